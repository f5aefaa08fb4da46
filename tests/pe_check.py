#!/usr/bin/python3
"""Reads the 32-bit talvek.exe as a file and checks what a Windows user gets:
the headers, the imports, the resources and the size.
Usage: /usr/bin/python3 pe_check.py path/to/talvek.exe"""
import re
import struct
import sys

import pefile

# Every function the program may import, by DLL; all of them are in XP.
ALLOWED = {
    "KERNEL32.DLL": {"CloseHandle", "CreateDirectoryA", "CreateProcessA",
                     "ExitProcess", "FindClose", "FindFirstFileA",
                     "FindNextFileA", "GetCommandLineA", "GetModuleFileNameA",
                     "GetModuleHandleW", "GetProcAddress", "IsDBCSLeadByte",
                     "SetCurrentDirectoryA", "WaitForSingleObject"},
    "USER32.DLL": {"MessageBoxA"},
    "SHELL32.DLL": {"ShellExecuteA"},
    "SHLWAPI.DLL": {"PathFindExtensionA", "PathFindFileNameA",
                    "PathIsDirectoryA", "PathRemoveFileSpecA"},
    "MSVCRT.DLL": {"_errno", "_vsnprintf", "_vscprintf", "free", "malloc",
                   "realloc", "strcmp", "strlen", "memcpy", "memset"},
}
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def main(path):
    data = open(path, "rb").read()
    pe = pefile.PE(data=data)
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    check(header.Machine == 0x14C, "not i386")
    check(optional.Magic == 0x10B, "not a 32-bit image")
    check(optional.Subsystem == 2, "not the GUI subsystem")
    check((optional.MajorOperatingSystemVersion,
           optional.MinorOperatingSystemVersion) == (5, 1), "OS version")
    check((optional.MajorSubsystemVersion,
           optional.MinorSubsystemVersion) == (5, 1), "subsystem version")
    check(len(data) <= 64 * 1024, "larger than 64 KiB: %d" % len(data))

    imports = {}
    for dll in pe.DIRECTORY_ENTRY_IMPORT:
        names = {i.name.decode() for i in dll.imports}
        imports[dll.dll.decode().upper()] = names
    for dll, names in imports.items():
        check(dll in ALLOWED, "imports from " + dll)
        extra = names - ALLOWED.get(dll, set())
        check(not extra, "%s imports %s" % (dll, sorted(extra)))
    for dll in ("KERNEL32.DLL", "USER32.DLL", "SHELL32.DLL", "SHLWAPI.DLL"):
        check(dll in imports, "no imports from " + dll)

    resources = {}
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in directory.entries if directory else []:
        for entry in kind.directory.entries:
            for language in entry.directory.entries:
                resources[(kind.id, entry.id)] = pe.get_data(
                    language.data.struct.OffsetToData, language.data.struct.Size)
    kinds = {kind for kind, _ in resources}
    check(kinds == {RT_ICON, RT_GROUP_ICON, RT_MANIFEST},
          "resource kinds %s" % sorted(kinds))
    check([i for k, i in resources if k == RT_GROUP_ICON] == [101],
          "icon group is not 101 alone")
    check([i for k, i in resources if k == RT_MANIFEST] == [1],
          "manifest is not 1 alone")

    group = resources.get((RT_GROUP_ICON, 101), b"\0" * 6)
    _, kind, count = struct.unpack_from("<HHH", group)
    check(kind == 1 and count == 3, "icon group holds %d images" % count)
    sizes = []
    for n in range(count):
        width, height, _, _, planes, bits, size, icon_id = struct.unpack_from(
            "<BBBBHHIH", group, 6 + 14 * n)
        sizes.append((width, height))
        check(bits == 32, "icon %d has %d bits" % (icon_id, bits))
        image = resources.get((RT_ICON, icon_id), b"")
        check(len(image) == size, "icon %d size" % icon_id)
        if len(image) >= 40:
            header_size, w, h, _, depth = struct.unpack_from("<IiiHH", image)
            check(header_size == 40 and depth == 32 and w == width and
                  h == 2 * height, "icon %d image header" % icon_id)
    check(sizes == [(48, 48), (32, 32), (16, 16)], "icon sizes %s" % sizes)

    manifest = resources.get((RT_MANIFEST, 1), b"").decode("utf-8")
    elements = re.findall(r"<\s*([A-Za-z]+)", manifest)
    check(elements == ["assembly", "trustInfo", "security",
                       "requestedPrivileges", "requestedExecutionLevel"],
          "manifest elements %s" % elements)
    check(re.search(r'<requestedExecutionLevel\s+level="asInvoker"\s+'
                    r'uiAccess="false"\s*/>', manifest) is not None,
          "execution level")

    for failure in failures:
        print("FAIL:", failure)
    print("%d passed, %d failed" % (1 if not failures else 0,
                                    1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
