#!/usr/bin/python3
"""Reads the 32-bit talvek.exe as a file and checks what a Windows user gets:
the headers, the imports, the resources and the size. With --optimizer, reads
a pngcrush.bin of the release (32- or 64-bit) instead: a console program for
Windows XP and later, linked statically, with no build time in it.
Usage: /usr/bin/python3 pe_check.py path/to/talvek.exe
       /usr/bin/python3 pe_check.py --optimizer path/to/pngcrush.bin..."""
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
# What the optimizer's C runtime start-up and stdio need from KERNEL32, and
# what its workers need; all of them are in XP. Anything else (a Vista function, a DLL of libgcc,
# libwinpthread or the UCRT) means the static link went wrong.
OPTIMIZER_KERNEL32 = {
    "DeleteCriticalSection", "EnterCriticalSection", "FreeLibrary",
    "GetLastError", "GetModuleHandleA", "GetModuleHandleW", "GetProcAddress",
    "GetStartupInfoA", "InitializeCriticalSection", "IsDBCSLeadByteEx",
    "LeaveCriticalSection", "LoadLibraryA", "MultiByteToWideChar",
    "SetUnhandledExceptionFilter", "Sleep", "TlsGetValue", "VirtualProtect",
    "VirtualQuery", "WideCharToMultiByte",
    # Its trials side by side in workers: processes, pipes read without
    # waiting, shared memory, a job, a clock and the error mode, all in
    # Windows 2000 or XP (GetProcessAffinityMask, not the processor count
    # functions of Windows 7).
    "AssignProcessToJobObject", "CloseHandle", "CreateFileMappingA",
    "CreateJobObjectA", "CreatePipe", "CreateProcessA", "DuplicateHandle",
    "ExitProcess", "GetCommandLineA", "GetCurrentProcess", "GetExitCodeProcess",
    "GetModuleFileNameA", "GetProcessAffinityMask", "GetStdHandle", "GetTickCount",
    "MapViewOfFile", "PeekNamedPipe", "ReadFile", "ResumeThread", "SetEnvironmentVariableA",
    "SetErrorMode", "SetHandleInformation", "SetInformationJobObject", "TerminateProcess",
    "UnmapViewOfFile", "WaitForSingleObject", "WriteFile",
    # Whether the copy is the input: each file's identity, in XP.
    "CreateFileA", "GetFileInformationByHandle"}
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


# The headers both programs share: XP's version numbers in both places, and
# neither a build time nor a symbol table, so two builds match byte for byte.
def check_headers(pe, subsystem, what):
    optional = pe.OPTIONAL_HEADER
    check(optional.Subsystem == subsystem, what + ": subsystem %d" % optional.Subsystem)
    check((optional.MajorOperatingSystemVersion,
           optional.MinorOperatingSystemVersion) == (5, 1), what + ": OS version")
    check((optional.MajorSubsystemVersion,
           optional.MinorSubsystemVersion) == (5, 1), what + ": subsystem version")
    check(pe.FILE_HEADER.TimeDateStamp == 0, what + ": build time stamped in")
    check(pe.FILE_HEADER.PointerToSymbolTable == 0, what + ": not stripped")


def imported(pe):
    return {dll.dll.decode().upper(): {i.name.decode() for i in dll.imports if i.name}
            for dll in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}


# A release's pngcrush.bin: 32- or 64-bit, a console program, importing only
# from KERNEL32 and msvcrt.
def check_optimizer(path):
    pe = pefile.PE(path)
    machine, magic = pe.FILE_HEADER.Machine, pe.OPTIONAL_HEADER.Magic
    check((machine, magic) in ((0x14C, 0x10B), (0x8664, 0x20B)),
          path + ": machine %#x, image %#x" % (machine, magic))
    check_headers(pe, 3, path)
    imports = imported(pe)
    check(set(imports) == {"KERNEL32.DLL", "MSVCRT.DLL"},
          path + ": imports from %s" % sorted(imports))
    extra = imports.get("KERNEL32.DLL", set()) - OPTIMIZER_KERNEL32
    check(not extra, path + ": KERNEL32 imports %s" % sorted(extra))


def main(path):
    data = open(path, "rb").read()
    pe = pefile.PE(data=data)
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    check(header.Machine == 0x14C, "not i386")
    check(optional.Magic == 0x10B, "not a 32-bit image")
    check_headers(pe, 2, "talvek.exe")
    check(len(data) <= 64 * 1024, "larger than 64 KiB: %d" % len(data))

    imports = imported(pe)
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
    return report()


def report():
    for failure in failures:
        print("FAIL:", failure)
    print("%d passed, %d failed" % (1 if not failures else 0,
                                    1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    if sys.argv[1] == "--optimizer":
        for optimizer in sys.argv[2:]:
            check_optimizer(optimizer)
        sys.exit(report())
    sys.exit(main(sys.argv[1]))
