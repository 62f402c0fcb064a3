"""How the store must read and write JSON, computed independently with Python's own json module.

A text is one JSON value with only space, tab, CR and LF around it. Integers that fit 64 bits (unsigned, or
signed when negative) stay integers ("-0" is the integer 0, as Python reads it); every other number is the float
nearest to its own text ("-0.0" and "-0e0" are -0.0);
a number too large for a float, NaN and Infinity make the text invalid.
"""

import decimal
import hashlib
import json
import math


class Refused(ValueError):
    """The text is not one the store accepts."""


def _finite(value):
    if math.isinf(value):
        raise Refused("number too large for a float")
    return value


def _integer(text):
    value = int(text)
    if -(2**63) <= value < 2**64:
        return value
    return _finite(float(text))


def _constant(name):
    raise Refused(name)


def read(text):
    """The value of `text`, or Refused."""
    try:
        return json.loads(text, parse_int=_integer, parse_float=lambda t: _finite(float(t)),
                          parse_constant=_constant)
    except json.JSONDecodeError as e:
        raise Refused(str(e)) from None


def float_form(value):
    """The writer's float form, from Python's own shortest round-trip digits."""
    sign, digits, exponent = decimal.Decimal(repr(abs(value))).normalize().as_tuple()
    digits = "".join(map(str, digits))
    k = len(digits) + exponent  # 10^(k-1) <= |v| < 10^k
    prefix = "-" if math.copysign(1, value) < 0 else ""
    if value == 0:
        return prefix + "0.0"
    if -5 < k <= 16:
        if k <= 0:
            body = "0." + "0" * -k + digits
        elif k < len(digits):
            body = digits[:k] + "." + digits[k:]
        else:
            body = digits + "0" * (k - len(digits)) + ".0"
    else:
        body = digits[0] + ("." + digits[1:] if len(digits) > 1 else "") + "e" + str(k - 1)
    return prefix + body


def compact(value):
    """The compact text: no whitespace, keys in byte order, minimal escapes, the writer's number forms."""
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        return float_form(value)
    if isinstance(value, str):
        return json.dumps(value, ensure_ascii=False)
    if isinstance(value, list):
        return "[" + ",".join(compact(v) for v in value) + "]"
    members = sorted(value.items(), key=lambda kv: kv[0].encode())
    return "{" + ",".join(compact(k) + ":" + compact(v) for k, v in members) + "}"


def lines(data):
    """The lines of a JSON Lines file's bytes as the store reads them: split at LF, a CR before it
    dropped, blank lines skipped."""
    for piece in data.split(b"\n"):
        if piece.endswith(b"\r"):
            piece = piece[:-1]
        if piece:
            yield piece


def content_hash(value):
    return hashlib.sha256(compact(value).encode()).hexdigest()


def as_python(value):
    """The value as the module hands it to Python: integers from 2**63 up become floats."""
    if isinstance(value, bool):
        return value
    if isinstance(value, int):
        return float(value) if value >= 2**63 else value
    if isinstance(value, list):
        return [as_python(v) for v in value]
    if isinstance(value, dict):
        return {k: as_python(v) for k, v in value.items()}
    return value
