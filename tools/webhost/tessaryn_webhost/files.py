"""Finding an installer file in the files folder without ever leaving that folder."""

import os
import re
import stat

# Matched against the raw request path, before any percent-decoding, so encoded
# dots, slashes or backslashes can never reach the file system.
INSTALLER_PATH = re.compile(r"/installers/([a-z0-9_-][a-z0-9._-]*\.(?:dat|pak))")


def installer_name(raw_path):
    """The file name a request path asks for, or None when the path is not an installer file."""
    found = INSTALLER_PATH.fullmatch(raw_path)
    return found.group(1) if found else None


def open_installer(folder, name):
    """Opens folder/name for reading, or returns None.

    The real path must lie inside the real folder, which refuses symbolic links
    that point out of it; only regular files are served.
    """
    root = os.path.realpath(folder)
    target = os.path.realpath(os.path.join(root, name))
    if os.path.dirname(target) != root:
        return None
    try:
        handle = open(target, "rb")
    except OSError:
        return None
    try:
        info = os.fstat(handle.fileno())
    except OSError:
        handle.close()
        return None
    if not stat.S_ISREG(info.st_mode):
        handle.close()
        return None
    return handle, info.st_size



class ServedProducts:
    """The products whose .dat or .pak file the folder holds, named in lower case.

    Read again whenever the folder's modification time changes, so that a product published
    while the host runs is taken at once.
    """

    def __init__(self, folder):
        self._folder = folder
        self._seen = None
        self._names = frozenset()

    def names(self):
        try:
            seen = os.stat(self._folder).st_mtime_ns
            if seen != self._seen:
                found = {entry[:-4] for entry in os.listdir(self._folder)
                         if installer_name("/installers/" + entry) is not None}
                self._names, self._seen = frozenset(found), seen
        except OSError:
            pass  # a folder gone for a moment: the products last seen still count
        return self._names

    def __contains__(self, product):
        return product.lower() in self.names()


class ListedProducts:
    """Products named on the command line, compared in lower case; "*" admits every product."""

    def __init__(self, names):
        self._any = "*" in names
        self._names = frozenset(name.lower() for name in names)

    def __contains__(self, product):
        return self._any or product.lower() in self._names
