#!/usr/bin/env python3
"""Expected wavelength texts of pixel indices 0..127, worked out with exact
rational arithmetic: every extended-precision step is rounded to a 64-bit
significand, every stored 64-bit value to 53 bits (both to nearest, ties to
even), and the result is written with 15 significant digits, halves away
from zero, trailing zeros dropped.

  extended_wavelengths.py SLOPE OFFSET        the calibration file's two texts
  extended_wavelengths.py --calibrate A B C D wavelengths A, B (nm) at indices C, D;
                                              prints "slope S" and "offset O" first
"""
import sys
from decimal import Decimal, ROUND_HALF_UP, getcontext
from fractions import Fraction

getcontext().prec = 100


def rounded(x, bits):
    if x == 0:
        return x
    sign = -1 if x < 0 else 1
    x = abs(x)
    exp = 0
    while x >= 2 ** bits:
        x /= 2
        exp += 1
    while x < 2 ** (bits - 1):
        x *= 2
        exp -= 1
    n, rest = divmod(x.numerator, x.denominator)
    rest = Fraction(rest, x.denominator)
    if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and n % 2):
        n += 1
    return sign * Fraction(n) * Fraction(2) ** exp


def extended(x):
    return rounded(x, 64)


def double(x):
    return rounded(x, 53)


def text(x):
    d = Decimal(x.numerator) / Decimal(x.denominator)
    if d == 0:
        return "0"
    d = d.quantize(Decimal(1).scaleb(d.adjusted() - 14), rounding=ROUND_HALF_UP)
    return format(d.normalize(), "f")


def main(args):
    if args[0] == "--calibrate":
        a, b, c, d = (Fraction(Decimal(v)) for v in args[1:5])
        slope = double(extended(extended(a - b) / extended(c - d)))
        offset = double(extended(a - extended(c * slope)))
        print("slope", text(slope))
        print("offset", text(offset))
    else:
        # The nearest double to each text, as reading the file gives.
        slope, offset = (Fraction(float(v)) for v in args[:2])
    for i in range(128):
        print(text(extended(extended(i * slope) + offset)))


if __name__ == "__main__":
    main(sys.argv[1:])
