#!/usr/bin/env python3
"""Apply mutant N of a drawn sample to the working tree (revert with `git checkout -- .`).

Usage: apply.py SAMPLE.tsv N   (run from the repository's top folder)
Refuses when the line no longer reads as drawn, so that a sample is never applied to other code.
"""
import sys

rows = [l.rstrip('\n').split('\t') for l in open(sys.argv[1]) if l.strip()]
n = int(sys.argv[2])
_, place, _, original, mutant = rows[n - 1]
path, ln = place.rsplit(':', 1)
ln = int(ln)
text = open(path).read().split('\n')
assert text[ln - 1].strip() == original.strip(), (text[ln - 1], original)
indent = text[ln - 1][:len(text[ln - 1]) - len(text[ln - 1].lstrip())]
text[ln - 1] = indent + mutant.strip()
open(path, 'w').write('\n'.join(text))
print('applied', n, path, ln)
