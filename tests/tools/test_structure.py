"""scripts/structure --check on tiny trees: it passes a clean one and fails on each fault."""
import subprocess
import sys
from pathlib import Path

import pytest

SCRIPT = Path(__file__).resolve().parents[2] / "scripts" / "structure"


@pytest.mark.parametrize("files,code,named", [
    ({"app/a.cpp": "system/s.h", "system/s_win.cpp": "system/s.h"}, 0, "Cycles: 0"),
    ({"system/s.cpp": "net/n.h", "net/n.h": ""}, 1, "system/s.cpp includes net/n.h"),
    ({"net/a.h": "net/b.h", "net/b_win.cpp": "net/a.h"}, 1, "net/a <-> net/b"),
])
def test_check(tmp_path, files, code, named):
    for name, target in files.items():
        for path in (tmp_path / name, tmp_path / (target or name)):
            path.parent.mkdir(parents=True, exist_ok=True)
            path.touch()
    for name, target in files.items():
        (tmp_path / name).write_text(f'#include "{target}"\n' if target else "")
    result = subprocess.run([sys.executable, str(SCRIPT), "--check", "--root", str(tmp_path)],
                            capture_output=True, text=True, timeout=60)
    assert (result.returncode, named in result.stdout) == (code, True), result.stdout
