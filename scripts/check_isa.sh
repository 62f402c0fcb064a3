#!/usr/bin/env bash
# Checks that the module runs on any x86-64 CPU: outside the code built for
# x86-64-v3 CPUs (its own section, zr_isa_x86_64_v3, chosen at run time only
# on such CPUs) no instruction may need more than the x86-64 baseline:
# nothing VEX- or EVEX-encoded (AVX and later), nor BMI, LZCNT, MOVBE, POPCNT
# or the SSE3/SSSE3/SSE4 instructions a compiler picks on its own. The
# copies and their sections are described in src/base/isa.h.
#
#   scripts/check_isa.sh [build_dir=build]
set -euo pipefail
build=${1:-build}
module=$(ls "$build"/python/_zr_native*.so)

objdump -d --no-show-raw-insn "$module" | awk -v module="$module" '
  /^Disassembly of section / { section = $4; sub(/:$/, "", section); next }
  /^[0-9a-f]+ <.*>:$/ { symbol = $2; next }
  section != "zr_isa_x86_64_v3" && NF >= 2 {
    mnemonic = $2
    if (mnemonic ~ /^(rep|repz|repnz|lock|notrack|bnd|data16|cs|ds)$/) mnemonic = $3
    if (mnemonic ~ /^v/ || $0 ~ /%[yz]mm|%k[0-7]/ ||
        mnemonic ~ /^(andn|bextr|blsi|blsmsk|blsr|bzhi|mulx|pdep|pext|rorx|sarx|shlx|shrx|lzcnt|movbe|popcnt)$/ ||
        mnemonic ~ /^(pshufb|palignr|phadd|phsub|pmaddubsw|pmulhrsw|psign|pabs|ptest|pblend|blendv|pcmpeqq|pcmpgtq|pcmp[ei]str|crc32|p(min|max)(sb|sd|ud|uw)|pmovzx|pmovsx|pmulld|pextr[bdq]|pinsr[bdq]|round[sp][sd]|dpp[sd]|insertps|extractps|packusdw|movntdqa|lddqu|haddp|hsubp|addsubp|movddup|movs[hl]dup|pclmul)/) {
      bad++
      if (bad <= 20) print "needs more than x86-64: " section " " symbol " " $0
    }
  }
  END {
    if (bad) { print bad " instruction(s) above the baseline outside zr_isa_x86_64_v3 in " module; exit 1 }
    print "baseline x86-64 outside zr_isa_x86_64_v3: " module
  }'
