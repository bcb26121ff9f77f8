#!/usr/bin/env python3
"""Writes a benchmark "input.txt" of N triangles and the "output.stl" it must give.

The coordinates are mesh-like decimals (123.4567, -0.00125, 1.5e3, 0, ...) in
several spellings and separators, deterministic from the seed. The expected
output is worked out here, independently of tri2stl, from the decimal text:
every value is chosen so that its exact decimal lies at least 1/100 of a unit
of the third significant digit away from a rounding midpoint. A binary32 value
is within 6e-8 of the decimal it was read from, so any conversion that is off
by a few units in the last place still prints the same three digits.

    generate_input.py --triangles 1000000 --seed 1 --output-dir DIR
"""

import argparse
import os
import random
import sys

default_seed = 20240611
pool_values = 60000

# (weight, separator between the three values of a vertex record, leading text)
vertex_layouts = (
    (60, " ", ""),
    (8, " ", "  "),
    (6, "  ", ""),
    (6, "\t", ""),
    (10, ", ", ""),
    (5, ",", ""),
    (5, " , ", " "),
)


def render_e12_3(negative, digits, exponent):
    """The E12.3 field of the decimal digits * 10**exponent (digits has no leading zero)."""
    if digits == 0:
        return "   0.000E+00"
    length = len(str(digits))
    power = length + exponent
    if length <= 3:
        rounded = digits * 10 ** (3 - length)
    else:
        unit = 10 ** (length - 3)
        rounded, rest = divmod(digits, unit)
        if 2 * rest > unit:
            rounded += 1
    if rounded == 1000:
        rounded = 100
        power += 1
    sign = "-" if negative else ""
    exponent_sign = "+" if power >= 0 else "-"
    return f"{sign}0.{rounded:03d}E{exponent_sign}{abs(power):02d}".rjust(12)


def is_clear_of_midpoint(digits):
    """True when the fourth and later digits keep 1/100 of a third-digit unit from a half."""
    length = len(str(digits))
    if length <= 3:
        return True
    unit = 10 ** (length - 3)
    rest = digits % unit
    return abs(2 * rest - unit) * 50 > unit


def spell_fixed(digits, exponent):
    text = str(digits)
    if exponent >= 0:
        return text + "0" * exponent, True
    point = len(text) + exponent
    if point > 0:
        return text[:point] + "." + text[point:], False
    return "0." + "0" * -point + text, False


def spell_values(rng, negative, digits, exponent):
    """A few spellings of one value, the commonest first (and so the likeliest)."""
    sign = "-" if negative else ""
    fixed, is_integral = spell_fixed(digits, exponent)
    text = str(digits)
    power = len(text) - 1 + exponent
    mantissa = text[0] + ("." + text[1:] if len(text) > 1 else ".0")
    spellings = []
    if is_integral:
        spellings += [sign + fixed + ".0", sign + fixed, sign + fixed + "."]
    else:
        spellings += [sign + fixed, sign + fixed]
        if fixed.startswith("0."):
            spellings.append(sign + fixed[1:])
    spellings.append(f"{sign}{mantissa}e{power}")
    spellings.append(f"{sign}{mantissa}E{'+' if power >= 0 else '-'}{abs(power):02d}")
    if rng.random() < 0.3:
        spellings.append(f"{sign}{mantissa}D{power}")
    if not negative and rng.random() < 0.2:
        spellings.append("+" + fixed)
    return spellings


def draw_value(rng):
    """(negative, digits, exponent) of one coordinate, digits without trailing zeros."""
    kind = rng.random()
    if kind < 0.70:  # a coordinate of a part some metres across, to 0.1 mm
        digits, exponent = rng.randint(1, 20000000), -4
    elif kind < 0.82:  # a small offset, e.g. -0.00125
        digits, exponent = rng.randint(1, 99999), -rng.randint(5, 9)
    elif kind < 0.92:  # a rounded engineering value, e.g. 1.5e3
        digits, exponent = rng.randint(1, 999), rng.randint(-3, 2)
    else:  # a whole number
        digits, exponent = rng.randint(1, 5000), 0
    while digits % 10 == 0:
        digits //= 10
        exponent += 1
    return rng.random() < 0.5, digits, exponent


def build_pool(rng):
    """Parallel lists: spelling texts and the index of each one's field in fields."""
    fields = ["   0.000E+00"]
    texts = ["0.0", "0.0", "0", "0.", "0.000", "-0.0"]
    field_of_text = [0] * len(texts)
    while len(fields) < pool_values:
        negative, digits, exponent = draw_value(rng)
        if not is_clear_of_midpoint(digits):
            continue
        index = len(fields)
        fields.append(render_e12_3(negative, digits, exponent))
        spellings = spell_values(rng, negative, digits, exponent)
        texts += spellings
        field_of_text += [index] * len(spellings)
    return texts, field_of_text, fields


def generate(triangles, seed=default_seed):
    """Returns (input bytes, expected output bytes) for the given triangle count and seed."""
    rng = random.Random(seed)
    texts, field_of_text, fields = build_pool(rng)
    weights = [w for w, _, _ in vertex_layouts]
    layouts = rng.choices(vertex_layouts, weights=weights, k=3 * triangles)
    picks = rng.choices(range(len(texts)), k=9 * triangles)
    header_draws = [rng.random() for _ in range(triangles)]

    lines = [str(triangles)]
    out = ["solid sample"]
    for i in range(triangles):
        h = header_draws[i]
        lines.append(str(i + 1) if h < 0.8 else ("0" if h < 0.9 else "+1"))
        first = None
        vertex_fields = []
        for k in range(3):
            _, separator, lead = layouts[3 * i + k]
            a, b, c = picks[9 * i + 3 * k: 9 * i + 3 * k + 3]
            lines.append(lead + texts[a] + separator + texts[b] + separator + texts[c])
            f = fields[field_of_text[a]] + fields[field_of_text[b]] + fields[field_of_text[c]]
            vertex_fields.append(f)
            if first is None:
                first = f
        out.append("facet normal" + first)
        out.append("outer loop")
        out += ["vertex" + f for f in vertex_fields]
        out.append("endloop")
        out.append("endfacet")
    out.append("endsolid sample")
    input_bytes = ("\n".join(lines) + "\n").encode("ascii")
    expected_bytes = ("\r\n".join(out) + "\r\n").encode("ascii")
    return input_bytes, expected_bytes


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--triangles", type=int, default=1000000)
    parser.add_argument("--seed", type=int, default=default_seed)
    parser.add_argument("--output-dir", default=".")
    args = parser.parse_args()
    if args.triangles < 0:
        parser.error("--triangles must not be negative")
    input_bytes, expected_bytes = generate(args.triangles, args.seed)
    os.makedirs(args.output_dir, exist_ok=True)
    with open(os.path.join(args.output_dir, "input.txt"), "wb") as f:
        f.write(input_bytes)
    with open(os.path.join(args.output_dir, "expected.stl"), "wb") as f:
        f.write(expected_bytes)
    print(f"{args.triangles} triangles: input.txt {len(input_bytes)} bytes, "
          f"expected.stl {len(expected_bytes)} bytes in {args.output_dir}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
