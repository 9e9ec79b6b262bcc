#!/usr/bin/python3
# Debian's python3-pefile reads the resources.
"""Checks the Windows version resource of the built modules and programs:
the fixed file version 1.0.2.0 and product version 0.0.0.0, and the strings
"FileVersion" and "ProductVersion" 1.0.2, "FileDescription" and
"ProductName" Tessamune, "CompanyName" Quorvellin; the programs must carry
an icon too. Usage: version-info.py VERSION FILE [--icon] ...
Prints one line per file and "N passed, N failed"."""
import sys
import pefile

version = sys.argv[1]
args = sys.argv[2:]
passed = failed = 0

for i, path in enumerate(args):
    if path == "--icon":
        continue
    want_icon = i + 1 < len(args) and args[i + 1] == "--icon"
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    problems = []

    fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, "VS_FIXEDFILEINFO") else None
    if fixed is None:
        problems.append("no version resource")
    else:
        major, minor, patch = (int(x) for x in version.split("."))
        file_version = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                        fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
        product_version = (fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xFFFF,
                           fixed.ProductVersionLS >> 16, fixed.ProductVersionLS & 0xFFFF)
        if file_version != (major, minor, patch, 0):
            problems.append("fixed file version %s" % ".".join(map(str, file_version)))
        if product_version != (0, 0, 0, 0):
            problems.append("fixed product version %s" % ".".join(map(str, product_version)))

        strings = {}
        for info in getattr(pe, "FileInfo", []):
            for entry in info:
                for table in getattr(entry, "StringTable", []):
                    for k, v in table.entries.items():
                        strings[k.decode()] = v.decode()
        expected = {"FileVersion": version, "ProductVersion": version, "FileDescription": "Tessamune",
                    "ProductName": "Tessamune", "CompanyName": "Quorvellin"}
        for k, v in expected.items():
            if strings.get(k) != v:
                problems.append("%s is %r, not %r" % (k, strings.get(k), v))

    if want_icon:
        resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
        types = [e.id for e in resources.entries] if resources is not None else []
        if pefile.RESOURCE_TYPE["RT_GROUP_ICON"] not in types:
            problems.append("no icon")

    if problems:
        failed += 1
        print("FAIL  %s: %s" % (path, "; ".join(problems)))
    else:
        passed += 1
        print("ok    %s" % path)

print("version resources: %d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
