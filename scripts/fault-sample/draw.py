#!/usr/bin/env python3
"""Draw a fault sample: one mechanical mutation on each of COUNT random lines added since BASE.

Usage: draw.py BASE HEAD SEED [COUNT]   (run from the repository's top folder)
Prints a tab-separated list (number, file:line, kind, original, mutant) for apply.py; the
lines are shuffled with random.Random(SEED), so the draw does not depend on anyone's choice.
"""
import random
import re
import subprocess
import sys

FOLDERS = ['app', 'net', 'package', 'system', 'telemetry', 'ui', 'tools']


def added_lines(base, head):
    diff = subprocess.run(['git', 'diff', '-U0', base, head, '--'] + FOLDERS,
                          capture_output=True, text=True, check=True).stdout
    lines, f, ln = [], None, 0
    for l in diff.splitlines():
        if l.startswith('+++ '):
            f = l[6:] if l != '+++ /dev/null' else None
            continue
        if l.startswith('@@'):
            ln = int(re.search(r'\+(\d+)', l).group(1))
            continue
        if l.startswith('+') and f:
            t = l[1:]
            s = t.strip()
            ok = f.endswith(('.cpp', '.h', '.py')) and not f.startswith('tests/') and '/tests/' not in f
            if ok and s and not s.startswith(('//', '#', '/*', '*')) and \
                    not (f.endswith('.py') and s.startswith(('"""', "'''"))):
                lines.append((f, ln, t))
            ln += 1
    return lines


def muts(f, t):
    """The mutations a line allows; the rules are those of the earlier samples, unchanged."""
    py = f.endswith('.py')
    out = []
    for a, b in [('<=', '<'), ('>=', '>'), ('==', '!='), ('!=', '=='), (' < ', ' <= '), (' > ', ' >= ')]:
        if a in t and not ('<<' in t and a.strip() in '<') and '->' not in t.replace(a, '') or a in t and a not in ('<', '>'):
            if a in t:
                out.append(('swap comparison', t.replace(a, b, 1)))
    if py:
        if ' and ' in t:
            out.append(('and->or', t.replace(' and ', ' or ', 1)))
        m = re.match(r'(\s*)(if|elif|while) (.*):\s*$', t)
        if m:
            out.append(('negate condition', f'{m.group(1)}{m.group(2)} not ({m.group(3)}):'))
        m = re.match(r'(\s*)return (True|False)\s*$', t)
        if m:
            out.append(('opposite return', m.group(1) + 'return ' + ('False' if m.group(2) == 'True' else 'True')))
    else:
        if '&&' in t:
            out.append(('&& -> ||', t.replace('&&', '||', 1)))
        m = re.match(r'(\s*)(if|while) \(', t)
        if m:
            d, end = 0, None
            for k in range(m.end() - 1, len(t)):
                if t[k] == '(':
                    d += 1
                elif t[k] == ')':
                    d -= 1
                    if d == 0:
                        end = k
                        break
            if end:
                out.append(('negate condition', f'{m.group(1)}{m.group(2)} (!({t[m.end():end]})){t[end + 1:]}'))
        m = re.match(r'(\s*)return (true|false);', t)
        if m:
            out.append(('opposite return', t.replace('return ' + m.group(2), 'return ' + ('false' if m.group(2) == 'true' else 'true'), 1)))
    m = re.search(r'(?<![\w.])(\d+)(?![\w.])', t)
    if m and '"' not in t[:m.start()]:
        out.append(('constant +1', t[:m.start()] + str(int(m.group(1)) + 1) + t[m.end():]))
    s = t.strip()
    indent = t[:len(t) - len(t.lstrip())]
    if not py and re.match(r'^[\w:.>\-\[\]]+\(.*\);$', s) and not s.startswith('return'):
        out.append(('delete statement', indent + '(void)0; // deleted'))
    if py and re.match(r'^[\w.\[\]]+\(.*\)$', s):
        out.append(('delete statement', indent + 'pass  # deleted'))
    return out


def main():
    base, head, seed = sys.argv[1], sys.argv[2], int(sys.argv[3])
    count = int(sys.argv[4]) if len(sys.argv) > 4 else 40
    lines = added_lines(base, head)
    print(len(lines), 'candidate lines', file=sys.stderr)
    rng = random.Random(seed)
    order = list(range(len(lines)))
    rng.shuffle(order)
    sample = []
    for i in order:
        f, ln, t = lines[i]
        ms = muts(f, t)
        if not ms:
            continue
        kind, mut = rng.choice(ms)
        sample.append((f, ln, t, kind, mut))
        if len(sample) == count:
            break
    for k, (f, ln, t, kind, mut) in enumerate(sample, 1):
        print(f'{k}\t{f}:{ln}\t{kind}\t{t.strip()}\t{mut.strip()}')


if __name__ == '__main__':
    main()
