#!/usr/bin/env python3
"""Writes the SPDX 2.3 bill of materials of one Windows release:
talvek-VERSION-ARCH.spdx.json beside its zip and installer. It names what
the release holds (talvek, and pngcrush.bin made of pngcrush, libpng and
zlib), where each came from (its Debian source package, the SHA-256 of the
source files, the patches applied), each licence, and the SHA-256 of every
file shipped. Everything in it comes from the pinned sources and the built
files, and its one date is SOURCE_DATE_EPOCH, so the same sources give the
same document. GATE is the line of advisories.sh, kept as the document's
comment to show that libpng's advisories were checked for this release.
Usage: spdx.py SOURCE_DIR BUILD_DIR VERSION ARCH TRIPLE GATE"""
import hashlib
import json
import os
import re
import sys
import time

source, build, version, arch, triple, gate = sys.argv[1:7]
optimizer = os.path.join(source, "optimizer")
name = "talvek-%s-%s" % (version, arch)
stage = os.path.join(build, "package", name)
work = os.path.join(build, "pngcrush-build")
NONE = "NOASSERTION"


def digests(path):
    with open(path, "rb") as f:
        data = f.read()
    return {"SHA1": hashlib.sha1(data).hexdigest(), "SHA256": hashlib.sha256(data).hexdigest()}


def checksums(sums):
    return [{"algorithm": k, "checksumValue": v} for k, v in sums.items()]


def spdx_id(kind, text):
    return "SPDXRef-%s-%s" % (kind, re.sub(r"[^A-Za-z0-9.-]", "-", text))


def read_lines(path):
    with open(path) as f:
        return [line.split() for line in f if line.strip() and not line.startswith("#")]


versions = {fields[0]: fields[1] for fields in read_lines(os.path.join(optimizer, "sources.versions"))}
pinned = [(fields[1], fields[0]) for fields in read_lines(os.path.join(optimizer, "sources.sha256"))]
pinned += [(fields[1], fields[0]) for fields in read_lines(os.path.join(optimizer, "zlib.sha256"))]

files, packages, relationships = [], [], []


def relate(a, kind, b, comment=None):
    relationship = {"spdxElementId": a, "relationshipType": kind, "relatedSpdxElement": b}
    if comment:
        relationship["comment"] = comment
    relationships.append(relationship)


def add_file(path, shown, comment=None):
    entry = {"fileName": shown, "SPDXID": spdx_id("File", shown.lstrip("./")),
             "checksums": checksums(digests(path))}
    if comment:
        entry["comment"] = comment
    files.append(entry)
    return entry["SPDXID"]


def upstream(debian_version):
    """1.2.13+dfsg-1 -> 1.2.13: the version without Debian's revision and repacking."""
    return re.sub(r"\+dfsg.*$", "", debian_version.rsplit("-", 1)[0])


def purl(package, debian_version, arch="source"):
    return {"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
            "referenceLocator": "pkg:deb/debian/%s@%s?arch=%s"
                                % (package, debian_version.replace("+", "%2B"), arch)}


def component(key, debian, licence, info, patches):
    """A part of pngcrush.bin: the Debian source package it came from, as
    one package a source file with its pinned SHA-256, and the patches
    applied (path, name shown, what it is)."""
    package = {"name": key, "SPDXID": spdx_id("Package", key), "versionInfo": upstream(versions[debian]),
               "supplier": "Organization: Debian", "downloadLocation": NONE,
               "filesAnalyzed": False, "licenseConcluded": licence, "licenseDeclared": licence,
               "copyrightText": NONE,
               "primaryPackagePurpose": "APPLICATION" if key == "pngcrush" else "LIBRARY",
               "externalRefs": [purl(debian, versions[debian])], "sourceInfo": info}
    packages.append(package)
    for file_name, sum_ in pinned:
        if not file_name.startswith(debian + "_"):
            continue
        origin = {"name": file_name, "SPDXID": spdx_id("Package", file_name),
                  "versionInfo": versions[debian], "supplier": "Organization: Debian",
                  "downloadLocation": NONE, "packageFileName": file_name,
                  "checksums": [{"algorithm": "SHA256", "checksumValue": sum_}],
                  "filesAnalyzed": False, "primaryPackagePurpose": "SOURCE",
                  "sourceInfo": "A file of Debian's source package %s %s." % (debian, versions[debian])}
        packages.append(origin)
        relate(package["SPDXID"], "GENERATED_FROM", origin["SPDXID"])
    for path, shown, comment in patches:
        relate(add_file(path, shown, comment), "PATCH_APPLIED", package["SPDXID"])
    return package["SPDXID"]


def debian_patches(folder):
    with open(os.path.join(folder, "series")) as f:
        names = [line.strip() for line in f if line.strip() and not line.startswith("#")]
    return [(os.path.join(folder, n), "./debian/patches/" + n, "Debian's patch, applied by our build")
            for n in names]


ours = [(os.path.join(optimizer, n), "./optimizer/" + n, "Our patch; its head says why")
        for n in sorted(os.listdir(optimizer)) if n.startswith("pngcrush-") and n.endswith(".patch")]
added = [n for n in sorted(os.listdir(optimizer)) if n.startswith("pngcrush-") and n.endswith((".c", ".h"))]
pngcrush = component(
    "pngcrush", "pngcrush", "LicenseRef-pngcrush",
    "Debian source package pngcrush %s, built as shipped but for our patches." % versions["pngcrush"],
    ours)
# Our own source, compiled into pngcrush.bin beside pngcrush.c, with the
# parts for Windows.
for n in added + sorted("win32/" + n for n in os.listdir(os.path.join(optimizer, "win32"))):
    relate(add_file(os.path.join(optimizer, n), "./optimizer/" + n,
                    "Our source, compiled into pngcrush.bin; the patches call it"),
           "FILE_ADDED", pngcrush)
# The options as libpng.dfa sets them, so that the bill cannot tell another story.
with open(os.path.join(optimizer, "libpng.dfa")) as f:
    dfa = ", ".join(" ".join(line.split()[1:]) for line in f if line.startswith("option "))
libpng = component(
    "libpng", "libpng1.6", "libpng-2.0",
    "Debian source package libpng1.6 %s, with Debian's patches, built with our options "
    "(optimizer/libpng.dfa): %s." % (versions["libpng1.6"], dfa),
    debian_patches(os.path.join(work, "libpng-debian", "debian", "patches")))
options = add_file(os.path.join(optimizer, "libpng.dfa"), "./optimizer/libpng.dfa",
                   "libpng's build options")
relate(options, "OTHER", libpng, "libpng's build options")
libz = os.path.join("/usr", triple, "lib", "libz.a")
zlib = component(
    "zlib", "libz-mingw-w64", "Zlib",
    "Debian's build of source package libz-mingw-w64 %s, as its binary package "
    "libz-mingw-w64-dev (the build checks the version), linked as %s; the source files' "
    "SHA-256 are those of Debian's Sources index. Debian's changelog of this version: "
    "\"New upstream release, merging all patches\"." % (versions["libz-mingw-w64"], libz),
    [])
relate(add_file(libz, "." + libz, "From libz-mingw-w64-dev"), "GENERATED_FROM", zlib)

# The release: the four files of the zip, which the installer installs too.
shipped = sorted(os.listdir(stage))
shipped_ids = {n: add_file(os.path.join(stage, n), "./" + n) for n in shipped}
sha1s = sorted(digests(os.path.join(stage, n))["SHA1"] for n in shipped)
zip_path = os.path.join(build, name + ".zip")
setup_path = os.path.join(build, name + "-setup.exe")
talvek = {"name": "talvek", "SPDXID": "SPDXRef-Package-talvek", "versionInfo": version,
          "supplier": "Organization: Talvek's developers", "downloadLocation": NONE,
          "packageFileName": os.path.basename(zip_path), "checksums": checksums(digests(zip_path)),
          "filesAnalyzed": True,
          "packageVerificationCode": {"packageVerificationCodeValue":
                                      hashlib.sha1("".join(sha1s).encode()).hexdigest()},
          "licenseConcluded": "Zlib AND LicenseRef-pngcrush AND libpng-2.0",
          "licenseDeclared": "Zlib", "copyrightText": "Copyright (C) 2026 Talvek's developers",
          "primaryPackagePurpose": "APPLICATION",
          "sourceInfo": "Talvek's own sources, version %s, built for Windows (%s)." % (version, arch)}
setup = {"name": "talvek installer", "SPDXID": "SPDXRef-Package-talvek-setup", "versionInfo": version,
         "supplier": "Organization: Talvek's developers", "downloadLocation": NONE,
         "packageFileName": os.path.basename(setup_path), "checksums": checksums(digests(setup_path)),
         "filesAnalyzed": True, "packageVerificationCode": talvek["packageVerificationCode"],
         "licenseConcluded": talvek["licenseConcluded"],
         "licenseDeclared": "Zlib", "copyrightText": NONE, "primaryPackagePurpose": "INSTALL",
         "sourceInfo": "Made by NSIS from the same four files as the zip."}
packages[:0] = [talvek, setup]
relate("SPDXRef-DOCUMENT", "DESCRIBES", talvek["SPDXID"])
relate("SPDXRef-DOCUMENT", "DESCRIBES", setup["SPDXID"])
for n in shipped:
    relate(talvek["SPDXID"], "CONTAINS", shipped_ids[n])
    relate(setup["SPDXID"], "CONTAINS", shipped_ids[n])
optimizer = shipped_ids["pngcrush.bin"]
relate(optimizer, "GENERATED_FROM", pngcrush)
relate(optimizer, "STATIC_LINK", libpng)
relate(optimizer, "STATIC_LINK", zlib)

with open(os.path.join(work, "pngcrush", "LICENSE")) as f:
    pngcrush_licence = f.read()
epoch = int(os.environ["SOURCE_DATE_EPOCH"])
document = {
    "spdxVersion": "SPDX-2.3",
    "dataLicense": "CC0-1.0",
    "SPDXID": "SPDXRef-DOCUMENT",
    "name": name,
    "documentNamespace": "https://spdx.org/spdxdocs/%s-%s" % (name, talvek["checksums"][1]["checksumValue"]),
    "creationInfo": {"created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch)),
                     "creators": ["Organization: Talvek's developers", "Tool: talvek-spdx.py-%s" % version],
                     "comment": gate},
    "packages": packages,
    "files": files,
    "hasExtractedLicensingInfos": [{"licenseId": "LicenseRef-pngcrush", "name": "pngcrush license",
                                    "extractedText": pngcrush_licence}],
    "relationships": relationships,
}
with open(os.path.join(build, name + ".spdx.json"), "w") as out:
    json.dump(document, out, indent=2, ensure_ascii=False)
    out.write("\n")
