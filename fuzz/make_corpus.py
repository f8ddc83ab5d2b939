#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Each seed is one of the host tests' scenarios spelled in the byte language of
its target (see the decoders in fuzz_session.cpp, fuzz_scanner.cpp and
fuzz_settings_file.cpp). Run it again after changing a decoder; check what a
seed does with FUZZ_TRACE=1 build/fuzz/fuzz_session fuzz/corpus/fuzz_session/<seed>.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def u16(value):
    return struct.pack("<H", value & 0xFFFF)


def u32(value):
    return struct.pack("<I", value & 0xFFFFFFFF)


# ---- fuzz_session: the indexes of its tables of usual values

DAT = {name: i for i, name in enumerate([
    "IDENTITY", "USERINTERFACE", "CAPABILITY", "STATUS", "PENDINGXFERS", "SETUPMEMXFER",
    "SETUPFILEXFER", "XFERGROUP", "EVENT", "PARENT", "NULL", "IMAGEINFO", "IMAGELAYOUT",
    "IMAGEMEMXFER", "IMAGEMEMXFER2", "IMAGENATIVEXFER", "IMAGEFILEXFER", "PALETTE8"])}
MSG = {name: i for i, name in enumerate([
    "GET", "GET2", "GETCURRENT", "GETDEFAULT", "GETFIRST", "GETNEXT", "SET", "SET2", "RESET",
    "QUERYSUPPORT", "OPENDS", "CLOSEDS", "USERSELECT", "DISABLEDS", "ENABLEDS", "ENABLEDSUIONLY",
    "PROCESSEVENT", "ENDXFER", "XFERREADY", "NULL"])}
CAPS = ["XFERCOUNT", "SUPPORTEDCAPS", "INDICATORS", "DEVICEONLINE", "UICONTROLLABLE",
        "COMPRESSION", "PIXELTYPE", "UNITS", "XFERMECH", "BRIGHTNESS", "PHYSICALWIDTH",
        "PHYSICALHEIGHT", "XRESOLUTION", "YRESOLUTION", "BITORDER", "PIXELFLAVOR",
        "PLANARCHUNKY", "SUPPORTEDSIZES", "XSCALING", "YSCALING", "IMAGEFILEFORMAT",
        "LIGHTSOURCE", "LIGHTPATH", "FEEDERENABLED", "FEEDERLOADED", "AUTOFEED", "CLEARPAGE",
        "BITDEPTH", "DUPLEX"]
CAP = {name: i for i, name in enumerate(CAPS)}
CONTAINER = {"ONEVALUE": 0, "ENUMERATION": 2, "ARRAY": 3, "RANGE": 4}
ITEM = {name: i for i, name in enumerate([
    "INT8", "INT16", "INT32", "UINT8", "UINT16", "UINT32", "BOOL", "FIX32", "FRAME", "STR32",
    "STR255", "UNKNOWN"])}
FLAGS = {name: i for i, name in enumerate([
    "APP_POINTER", "APP_HANDLE", "DS_POINTER", "DS_HANDLE", "DSM_HANDLE", "DS", "POINTER",
    "HANDLE", "APP_DS_POINTER", "POINTER_HANDLE", "ALL", "NONE"])}
LENGTH = {value: i for i, value in enumerate([
    0, 1, 7, 8, 24, 100, 1000, 4096, 65535, 65536, 0x7FFFFFFF, 0x80000000])}
FILE_NAME = {name: i for i, name in enumerate([
    "TWAIN.TMP", "C:\\cwd\\page.bmp", "C:\\missing\\page.bmp", "C:\\TEMP\\UAXXXX.ini", "",
    "\\\\server\\share\\p.bmp"])}
CONTROL = {name: i for i, name in enumerate([
    "PAPER", "SCANTYPE", "RESOLUTION", "DUPLEX", "SCROLL", "EDIT", "HELP", "ABOUT", "SCAN",
    "CLOSE"])}
WINDOW_MESSAGE = {name: i for i, name in enumerate([
    "KEYDOWN", "CHAR", "COMMAND", "HSCROLL", "CLOSE", "INITDIALOG", "DESTROY", "MOUSEMOVE"])}

CONTROL_GROUP = b"\x00"
IMAGE_GROUP = b"\x78"


def session_header(scanner=True, duplex_unit=True, sheets=0, companion=False,
                   no_source_manager=False, page=(64, 10, 64, 10)):
    setup = (0 if scanner else 1) | (2 if duplex_unit else 0) | (4 if companion else 0) | \
        (8 if no_source_manager else 0) | (0 if page else 0x10) | (sheets << 5)
    out = bytes([setup])
    if scanner and page:
        out += b"".join(u16(v) for v in page)
    return out


def triplet(group, dat, msg, record=b"\x00", origin=b"\x03"):
    """A triplet step; record starts with its presence byte (b"\\x00": none)."""
    dat_byte = bytes([DAT[dat]]) if isinstance(dat, str) else b"\xf0" + u16(dat)
    msg_byte = bytes([MSG[msg]]) if isinstance(msg, str) else b"\xf0" + u16(msg)
    return b"\x04" + group + dat_byte + msg_byte + origin + record


def identity_record():
    return b"\x01\x01"


def ui_record(show_ui):
    return b"\x01\x01" + bytes([1 if show_ui else 0]) + u16(0) + b"\x01"


def plain_record():
    return b"\x01\x00"  # a record of the type's size, zero-filled


def sized_record(size):
    return b"\x01" + bytes([size - 1, 0])  # for types without a size of their own


def capability_record(cap, kind="ONEVALUE", item=None, value=0):
    out = b"\x01" + bytes([CAP[cap], CONTAINER[kind]])
    if item is None:
        return out + b"\x05"  # no container
    return out + b"\x01" + bytes([ITEM[item]]) + u32(value) + b"\x01\x01"


def setup_file_record(name):
    return b"\x01\x01" + bytes([FILE_NAME[name]]) + b"\x00" + u16(0)


def strip_record(flags, length, handle_size=4096):
    out = b"\x01\x01" + bytes([FLAGS[flags], LENGTH[length]])
    if flags in ("APP_POINTER", "ALL", "APP_DS_POINTER", "POINTER", "POINTER_HANDLE"):
        return out + (b"\x01" if length <= 0x7FFFFFFF else b"")
    if flags in ("APP_HANDLE", "DSM_HANDLE", "HANDLE"):
        return out + b"\x00\x01" + u16(handle_size)
    if flags == "NONE":
        return out
    return out + b"\x00"  # the source's own buffer


def event_record(target, message, wparam_kind, wparam=0):
    out = b"\x01\x01"
    out += b"\x00" if target == "DIALOG" else b"\x01" + bytes([CONTROL[target]])
    out += bytes([WINDOW_MESSAGE[message]])
    out += bytes([wparam_kind]) + (u32(wparam) if wparam_kind >= 2 else b"")
    return out + b"\x00" + u32(0) + u16(0)


def user(action, *arguments):
    return b"\x00" + bytes([action]) + bytes(arguments)


def scanner_change(change, *arguments):
    return b"\x01" + bytes([change]) + bytes(arguments)


OPEN = triplet(CONTROL_GROUP, "IDENTITY", "OPENDS", identity_record())
CLOSE = triplet(CONTROL_GROUP, "IDENTITY", "CLOSEDS")
STATUS = triplet(CONTROL_GROUP, "STATUS", "GET", plain_record())
IMAGE_INFO = triplet(IMAGE_GROUP, "IMAGEINFO", "GET", plain_record())
NATIVE = triplet(IMAGE_GROUP, "IMAGENATIVEXFER", "GET", plain_record())
END_TRANSFER = triplet(CONTROL_GROUP, "PENDINGXFERS", "ENDXFER", plain_record())
PENDING = triplet(CONTROL_GROUP, "PENDINGXFERS", "GET", plain_record())
DISABLE = triplet(CONTROL_GROUP, "USERINTERFACE", "DISABLEDS", ui_record(False))


def enable(show_ui):
    return triplet(CONTROL_GROUP, "USERINTERFACE", "ENABLEDS", ui_record(show_ui))


def strip(flags, length):
    return triplet(IMAGE_GROUP, "IMAGEMEMXFER", "GET", strip_record(flags, length))


SESSION_SEEDS = {
    "open_identity_status_close": session_header() + OPEN +
    triplet(CONTROL_GROUP, "IDENTITY", "GET", identity_record()) + STATUS + CLOSE,
    "native_without_dialog": session_header() + OPEN + enable(False) + IMAGE_INFO + NATIVE +
    b"\x03\x00" + END_TRANSFER + DISABLE + CLOSE,
    "strips_after_scan_button": session_header(sheets=2) + OPEN + enable(True) + user(0) +
    IMAGE_INFO + strip("APP_POINTER", 24) * 5 + END_TRANSFER + DISABLE + CLOSE,
    "capabilities": session_header() + OPEN +
    b"".join(triplet(CONTROL_GROUP, "CAPABILITY", "GET", capability_record(cap)) + b"\x03\x00"
             for cap in CAPS) +
    triplet(CONTROL_GROUP, "CAPABILITY", "SET", capability_record("XRESOLUTION", "ONEVALUE",
                                                                   "FIX32", 300)) +
    triplet(CONTROL_GROUP, "CAPABILITY", "SET", capability_record("SUPPORTEDSIZES", "ONEVALUE",
                                                                   "UINT16", 3)) +
    triplet(CONTROL_GROUP, "CAPABILITY", "SET", capability_record("BRIGHTNESS", "ONEVALUE",
                                                                   "FIX32", 3)) +
    triplet(CONTROL_GROUP, "CAPABILITY", "SET", capability_record("PIXELTYPE", "ENUMERATION",
                                                                   "UINT16", 2)) +
    triplet(CONTROL_GROUP, "CAPABILITY", "RESET", capability_record("BRIGHTNESS")) +
    triplet(CONTROL_GROUP, "CAPABILITY", "GETCURRENT", capability_record("XRESOLUTION")) +
    triplet(IMAGE_GROUP, "IMAGELAYOUT", "GET", plain_record()) + CLOSE,
    "file_transfer": session_header() + OPEN + enable(False) +
    triplet(CONTROL_GROUP, "SETUPFILEXFER", "SET", setup_file_record("C:\\cwd\\page.bmp")) +
    triplet(IMAGE_GROUP, "IMAGEFILEXFER", "GET", sized_record(4)) +
    triplet(CONTROL_GROUP, "SETUPFILEXFER", "GET", setup_file_record("")) +
    triplet(CONTROL_GROUP, "SETUPMEMXFER", "GET", plain_record()) +
    triplet(CONTROL_GROUP, "XFERGROUP", "GET", plain_record()) + CLOSE,
    "source_owned_strips": session_header() + OPEN + enable(False) +
    strip("DS_HANDLE", 4096) * 2 + strip("DS_POINTER", 24) * 5 + strip("APP_HANDLE", 100) * 3 +
    CLOSE,
    "hostile_requests": session_header() + OPEN +
    triplet(CONTROL_GROUP, "USERINTERFACE", "ENABLEDS") +
    triplet(CONTROL_GROUP, "CAPABILITY", "SET") +
    triplet(CONTROL_GROUP, "CAPABILITY", "SET", capability_record("XRESOLUTION", "RANGE",
                                                                   "FIX32", 300)) +
    triplet(CONTROL_GROUP, "CAPABILITY", "SET", capability_record("XRESOLUTION", "ONEVALUE",
                                                                   "FRAME", 300)) +
    triplet(b"\xf0" + u32(4), "CAPABILITY", "GET", plain_record()) +
    triplet(CONTROL_GROUP, 0xFFFF, "GET", sized_record(8)) +
    triplet(CONTROL_GROUP, "STATUS", 0xFFFF, plain_record()) + enable(False) +
    strip("ALL", 0x80000000) + strip("NONE", 4096) + strip("APP_POINTER", 0) +
    triplet(IMAGE_GROUP, "IMAGENATIVEXFER", "GET") + strip("APP_POINTER", 4096) + CLOSE + CLOSE,
    "user_at_the_dialog": session_header() + OPEN + enable(True) +
    user(5, 1, ord("-"), ord("3"), 0, 3) + user(4, 1, 0, 0) + user(3, 0, 5) + user(3, 3, 1) +
    user(9) + user(2, CONTROL["HELP"]) +
    triplet(CONTROL_GROUP, "EVENT", "PROCESSEVENT", event_record("DIALOG", "KEYDOWN", 0)) +
    triplet(CONTROL_GROUP, "EVENT", "PROCESSEVENT", event_record("EDIT", "CHAR", 2, ord("7"))) +
    user(8) + user(0) + NATIVE + DISABLE + CLOSE,
    "scanner_trouble": session_header() + scanner_change(2, 1) + OPEN + scanner_change(2, 0) +
    OPEN + PENDING + scanner_change(0, 3) + PENDING + scanner_change(0, 0) + enable(False) +
    b"\x02\x00" + NATIVE + b"\x02\x01" + NATIVE + scanner_change(4, 2, 7, 2, 5) + NATIVE +
    scanner_change(8, 1) + NATIVE + CLOSE,
    "duplex_feeder": session_header(sheets=2) + OPEN + enable(True) + user(3, 3, 1) + user(0) +
    NATIVE + END_TRANSFER + NATIVE + END_TRANSFER + CLOSE,
    "no_scanner_no_manager": session_header(scanner=False, no_source_manager=True) + OPEN +
    STATUS + triplet(CONTROL_GROUP, "CAPABILITY", "GET", capability_record("DEVICEONLINE")) +
    CLOSE,
    "companion_and_settings_page": session_header(companion=True, page=None) + OPEN +
    enable(False) + IMAGE_INFO + strip("APP_POINTER", 65535) * 3 + CLOSE,
}


# ---- fuzz_scanner

def scanner_device(kind=0, product=None, status_script=(), duplex=True, sheets=0, jam=False,
                   feeder=None, geometry=None, faults=(), refuse=None, unplug_at=None,
                   silent=False):
    kind |= (1 if product is not None else 0) | (0x08 if silent else 0) | \
        (0x10 if refuse is not None else 0) | (0x20 if unplug_at is not None else 0) | \
        (0x40 if geometry else 0) | (0x80 if faults else 0)
    out = bytes([kind])
    if product is not None:
        out += u16(product)
    if silent:
        out += b"\x00"
    if refuse is not None:
        out += bytes([refuse])
    if unplug_at is not None:
        out += bytes([unplug_at])
    out += b"\x01"  # status: ready
    out += bytes([len(status_script)]) + bytes(status_script)
    out += bytes([1 if duplex else 0, sheets, 0 if jam else 1])
    out += (b"\x00" + bytes(feeder)) if feeder else b"\x01"
    out += b"\x01"  # lines padded to 32 pixels
    if geometry:
        out += b"\x01" + b"".join(u16(v) for v in geometry)  # the usual size cap
    if faults:
        out += bytes([len(faults) - 1])
        for fault_kind, opcode_index, occurrence, count in faults:
            out += bytes([fault_kind, opcode_index, occurrence - 1, count])
    return out


def scanner_seed(devices, settings=(2, 0, 1, 0, 4), show_ui=True, steps=b""):
    out = bytes([len(devices) - 1])
    for i, (slot, device) in enumerate(devices):
        if i > 0:
            out += bytes([slot])
        out += device
    return out + bytes(settings) + bytes([1 if show_ui else 0]) + steps


INFO, NATIVE_X, FILE_X, ONLINE, SCAN = b"\x00", b"\x02", b"\x04", b"\x06", b"\x07"


def memory_x(length_index, source_owned=False, by_handle=False):
    return b"\x03" + bytes([length_index, int(source_owned), int(by_handle)])


def end_x():
    return b"\x05\x01"


def change(slot, what, *arguments):
    return b"\x08" + bytes([slot, what]) + bytes(arguments)


ALL_TRANSFERS = INFO + NATIVE_X + end_x() + memory_x(4) + memory_x(5, True) + \
    memory_x(4, False, True) + FILE_X + ONLINE
SCANNER_SEEDS = {
    "ready_scanner_every_transfer": scanner_seed([(0, scanner_device(geometry=(64, 10, 64, 10)))],
                                                 steps=ALL_TRANSFERS),
    "settings_window_150dpi": scanner_seed([(0, scanner_device())], settings=(2, 0, 0, 0, 4),
                                           show_ui=False, steps=INFO + NATIVE_X + memory_x(7)),
    "more_lines_than_sent": scanner_seed([(0, scanner_device(geometry=(100, 50, 90, 60)))],
                                         steps=ALL_TRANSFERS),
    "rows_wider_than_lines": scanner_seed([(0, scanner_device(geometry=(8, 20, 200, 20)))],
                                          steps=ALL_TRANSFERS),
    "no_line_width": scanner_seed([(0, scanner_device(geometry=(0, 10, 0, 10)))],
                                  steps=ALL_TRANSFERS),
    "short_reads_and_refused_writes": scanner_seed(
        [(0, scanner_device(geometry=(4960, 40, 4960, 40),
                            faults=((1, 7, 2, 5), (0, 2, 5, 0), (2, 4, 1, 0))))],
        steps=NATIVE_X + NATIVE_X + memory_x(6) + FILE_X + INFO),
    "other_devices_first": scanner_seed(
        [(0, scanner_device(product=0x1234)), (4, scanner_device(silent=True)),
         (7, scanner_device(geometry=(32, 4, 32, 4)))], steps=INFO + NATIVE_X + ONLINE),
    "feeder_and_duplex": scanner_seed([(0, scanner_device(sheets=2, geometry=(64, 8, 64, 8)))],
                                      settings=(2, 0, 0, 1, 4),
                                      steps=NATIVE_X + end_x() + NATIVE_X + end_x() + SCAN),
    "status_after_data": scanner_seed(
        [(0, scanner_device(geometry=(600, 400, 600, 400), status_script=(0, 0, 0, 0, 3)))],
        steps=NATIVE_X + change(0, 4, 2, 1) + NATIVE_X + change(0, 1, 2) + INFO + NATIVE_X),
    "unplugged_midway": scanner_seed([(0, scanner_device(geometry=(64, 300, 64, 300),
                                                         unplug_at=40))],
                                     steps=NATIVE_X + FILE_X),
    "refused_pipes": scanner_seed([(0, scanner_device(refuse=0x02)),
                                   (1, scanner_device(geometry=(64, 4, 64, 4)))],
                                  steps=INFO + NATIVE_X),
    "a3_at_600dpi": scanner_seed([(0, scanner_device())], settings=(0, 0, 2, 0, 8),
                                 show_ui=False, steps=NATIVE_X),
}


# ---- fuzz_settings_file: capability choice, value choice, then the file

SECTION = "[Velmora Oskaro Tq3480 PCL]\r\n"


def settings_file(**values):
    keys = {"paper": "Paper Size", "scan": "Scan Type", "resolution": "Resolution",
            "duplex": "Duplex Scanning", "brightness": "Brightness"}
    return SECTION + "".join("%s=%s\r\n" % (keys[k], v) for k, v in values.items())


SETTINGS_SEEDS = {
    "empty_file": (0, 0, None),
    "defaults": (1, 1, settings_file(paper=2, scan=0, resolution=1, duplex=0, brightness=0)),
    "largest_paper": (3, 6, settings_file(paper=18)),
    "paper_out_of_range": (3, 7, settings_file(paper=19, scan=2)),
    "paper_negative": (2, 4, settings_file(paper=-1, brightness=-4)),
    "brightness_five": (2, 5, settings_file(brightness=5)),
    "resolution_three": (0, 2, settings_file(resolution=3, duplex=2, scan=1)),
    "duplex_only": (0x80, 0, settings_file(duplex=1)),
    "not_numbers": (4, 8, settings_file(paper="abc", brightness="-", resolution=" 2x",
                                        duplex="+1", scan="99999999999")),
    "other_sections": (5, 9, "[Other]\r\nPaper Size=5\r\n\r\n" + settings_file(paper=11) +
                       "[velmora oskaro tq3480 pcl]\r\nBrightness=3\r\n"),
    "unix_lines_and_quotes": (1, 10, "[Velmora Oskaro Tq3480 PCL]\nPaper Size=\"12\"\n"
                              "Resolution = 2 \nBrightness='-2'\n"),
}


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def main():
    for name, data in SESSION_SEEDS.items():
        write("fuzz_session", name, data)
    for name, data in SCANNER_SEEDS.items():
        write("fuzz_scanner", name, data)
    for name, (cap, value, text) in SETTINGS_SEEDS.items():
        write("fuzz_settings_file", name,
              bytes([cap, value]) + (text.encode() if text is not None else b""))


if __name__ == "__main__":
    main()
