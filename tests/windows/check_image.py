#!/usr/bin/python3
"""Checks the stub's executable image with pefile, a parser that is not ours.

usage: check_image.py IMAGE

Exit status 0 when every property holds; otherwise prints each one that does
not and exits 1.
"""
import struct
import sys

import pefile

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "shlwapi.dll", "ole32.dll",
               "msvcrt.dll", "advapi32.dll"}
STRINGS = {
    1033: {21128: "VantuCompanyName", 21129: "%1!s! Installer", 21130: "Unknown Installer Error",
           21131: "Installation failed. %1!s! Installer requires Windows 2000 Service Pack 4 or better."},
    2052: {21128: "VantuCompanyName", 21129: "%1!s! 安装程序", 21130: "未知的安装程序错误",
           21131: "安装失败。%1!s! 安装程序需要 Windows 2000 Service Pack 4 或更高版本。"},
}
SUPPORTED_OS = ["{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def resources(pe):
    """{(type, name, language): bytes}, types and names as int or str."""
    found = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        type_key = str(t.name) if t.name is not None else t.id
        for n in t.directory.entries:
            name_key = str(n.name) if n.name is not None else n.id
            for lang in n.directory.entries:
                entry = lang.data.struct
                found[(type_key, name_key, lang.id)] = pe.get_data(entry.OffsetToData, entry.Size)
    return found


def string_block(data):
    entries, pos = [], 0
    for _ in range(16):
        (count,) = struct.unpack_from("<H", data, pos)
        entries.append(data[pos + 2:pos + 2 + 2 * count].decode("utf-16-le"))
        pos += 2 + 2 * count
    return entries


def main(path):
    pe = pefile.PE(path)
    fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    check(fh.Machine == 0x14C, "machine i386 (0x%x)" % fh.Machine)
    check(fh.Characteristics == 0x0122, "characteristics 0x0122 (0x%04x)" % fh.Characteristics)
    check(oh.Magic == 0x10B, "PE32 optional header")
    check(oh.DllCharacteristics == 0x8140, "dll characteristics 0x8140 (0x%04x)" % oh.DllCharacteristics)
    check(oh.Subsystem == 2, "GUI subsystem (%d)" % oh.Subsystem)
    check((oh.MajorSubsystemVersion, oh.MinorSubsystemVersion) == (5, 1), "subsystem version 5.1")
    check(oh.CheckSum == pe.generate_checksum(), "image checksum")
    dlls = {i.dll.decode().lower() for i in pe.DIRECTORY_ENTRY_IMPORT}
    check(dlls <= SYSTEM_DLLS, "imports only system DLLs (%s)" % sorted(dlls - SYSTEM_DLLS))

    res = resources(pe)
    manifest = res.get((24, 1, 0), b"").decode("utf-8", "replace")
    check("<dpiAware" in manifest and "True/PM" in manifest, "manifest dpiAware True/PM")
    check('requestedExecutionLevel level="asInvoker"' in manifest, "manifest asInvoker")
    positions = [manifest.find('supportedOS Id="%s"' % g) for g in SUPPORTED_OS]
    check(all(p >= 0 for p in positions) and positions == sorted(positions),
          "manifest supportedOS Vista, 7, 8, 8.1, 10 in order")

    check(res.get(("KELVARUPDATE", 1, 0)) == struct.pack("<I", 1), "marker resource KELVARUPDATE 1")

    group = res.get((14, 101, 1033))
    check(group is not None, "icon group 101 in language 1033")
    if group:
        reserved, kind, count = struct.unpack_from("<HHH", group)
        check(count == 1, "icon group holds one image (%d)" % count)
        w, h, _, _, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6)
        check((w, h, bits) == (0, 0, 32), "icon is 256x256 at 32 bits")
        image = res.get((3, icon_id, 1033), b"")
        check(len(image) == size, "icon image size matches its group entry")
        check(image[:4] == struct.pack("<I", 40), "icon image is a DIB, not PNG")

    for lang, texts in STRINGS.items():
        block = res.get((6, 1321, lang))
        check(block is not None, "string block 1321 in language %d" % lang)
        if block:
            entries = string_block(block)
            for index, text in enumerate(entries):
                want = texts.get(21120 + index, "")
                check(text == want, "string %d (%d): %r" % (21120 + index, lang, text))
    check({k for k in res if k[0] == 6} == {(6, 1321, 1033), (6, 1321, 2052)}, "no other string blocks")

    version = res.get((16, 1, 1033))
    check(version is not None, "version block in language 1033")
    ffi = pe.VS_FIXEDFILEINFO[0]
    check((ffi.FileVersionMS, ffi.FileVersionLS) == (0x00010003, 0x00650000), "file version 1.3.101.0")
    check((ffi.ProductVersionMS, ffi.ProductVersionLS) == (0x00010003, 0x00650000), "product version 1.3.101.0")
    check((ffi.FileFlagsMask, ffi.FileFlags, ffi.FileOS, ffi.FileType, ffi.FileSubtype) ==
          (0x3F, 0x8, 0x40004, 1, 0), "fixed version fields")
    check((ffi.FileDateMS, ffi.FileDateLS) == (0, 0), "version date 0")
    tables = [t for fi in pe.FileInfo[0] if fi.Key == b"StringFileInfo" for t in fi.StringTable]
    check(len(tables) == 1 and tables[0].LangID.lower() == b"040904b0", "one string table 040904b0")
    if tables:
        keys = [k.decode() for k in tables[0].entries]
        check(keys == ["CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
                       "OriginalFilename", "ProductName", "ProductVersion", "LanguageId", "PrivateBuild"],
              "version strings in order (%s)" % keys)
        e = {k.decode(): v.decode() for k, v in tables[0].entries.items()}
        for key, want in [("FileDescription", "Orvia Update Setup"), ("FileVersion", "1.3.101.0"),
                          ("InternalName", "Orvia Update Setup"), ("OriginalFilename", "OrviaUpdateSetup.exe"),
                          ("ProductName", "Orvia Update"), ("ProductVersion", "1.3.101.0"),
                          ("LanguageId", "en"), ("PrivateBuild", "")]:
            check(e.get(key) == want, "version %s = %r (%r)" % (key, want, e.get(key)))
    translations = [v for fi in pe.FileInfo[0] if fi.Key == b"VarFileInfo" for var in fi.Var
                    for v in var.entry.values()]
    check(translations == ["0x0409 0x04b0"], "translation 0x0409/0x04B0 (%s)" % translations)

    for f in failures:
        print("FAIL:", f)
    print("%d checks failed" % len(failures) if failures else "image properties hold")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
