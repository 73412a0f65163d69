"""Stamp page numbers onto existing PDF files.

A typed layer over the dedediruzurud shared library, loaded with ctypes::

    import dedediruzurud

    dedediruzurud.number_pages("report.pdf", "report-numbered.pdf",
                               format="Page {n} of {total}", position="bottom-right")

The library is looked for beside this module (where ``pip install`` puts it) and
otherwise at the path named by the environment variable ``DEDEDIRUZURUD_LIBRARY``.
It is loaded on the first call, so importing this module never fails for want of it.
"""

from __future__ import annotations

import ctypes
import errno
import operator
import os
import stat
import sys
import threading
from typing import Optional, Tuple, Union

__all__ = [
    "number_pages",
    "page_count",
    "STANDARD_FONTS",
    "DedediruzurudError",
    "EncryptedPDFError",
    "PasswordRequiredError",
    "ChangesNotAllowedError",
    "NotFoundError",
    "AccessError",
    "POSITIONS",
    "LIBRARY_ENV",
    "LIBRARY_FILE",
]
__version__ = "1.0.0"

#: Label positions by name, in the order of the library's position codes 0..5.
POSITIONS = ("bottom-center", "bottom-right", "bottom-left", "top-center", "top-right", "top-left")

#: The 14 fonts every PDF reader has; the first twelve show Windows-1252's characters.
STANDARD_FONTS = (
    "Helvetica", "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique",
    "Times-Roman", "Times-Bold", "Times-Italic", "Times-BoldItalic",
    "Courier", "Courier-Bold", "Courier-Oblique", "Courier-BoldOblique",
    "Symbol", "ZapfDingbats",
)

#: Environment variable naming the shared library when none is installed beside the module.
LIBRARY_ENV = "DEDEDIRUZURUD_LIBRARY"

#: File name of the shared library when it is installed beside the module.
LIBRARY_FILE = "dedediruzurud.dll" if sys.platform == "win32" else "libdedediruzurud.so.1"

PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

# The library's own messages (their fixed beginnings) that pick the exception.
_ENCRYPTED_PREFIX = "encrypted PDFs are not supported: "
_NO_PERMISSION_PREFIX = "the document's permissions do not allow changes: "
_CANNOT_OPEN_PREFIX = "cannot open "
_CANNOT_WRITE_PREFIX = "cannot write "
_INT_MIN, _INT_MAX = -(2**31), 2**31 - 1

# The six functions keep their message in one process-wide buffer, so such a
# call and the read of its message must not interleave with another thread's
# call; dedediruzurud_number hands each call its own message and needs no lock.
_lock = threading.Lock()
_MESSAGE_BYTES = 1024
# The record's flags and {total} modes (include/dedediruzurud.h).
_MARGIN, _OPACITY, _BACKING, _PAGE_LABELS = 1, 2, 4, 8
_TOTAL_DOCUMENT, _TOTAL_GIVEN, _TOTAL_LABELLED = 0, 1, 2
# The selection messages of dedediruzurud_range and dedediruzurud_skip, which
# number_pages keeps for its pages= and skip=.
_EMPTY_RANGE = "range {}..{} is empty (document has {} pages)"
_SKIP_ALL = "skip_pages {} >= page count {} \u2014 nothing to number"


class _Options(ctypes.Structure):
    """dedediruzurud_options, field for field."""

    _fields_ = [
        ("size", ctypes.c_uint), ("flags", ctypes.c_uint), ("position", ctypes.c_int),
        ("font_size", ctypes.c_int), ("red", ctypes.c_int), ("green", ctypes.c_int), ("blue", ctypes.c_int),
        ("first_number", ctypes.c_int), ("start_page", ctypes.c_int), ("end_page", ctypes.c_int),
        ("total_mode", ctypes.c_int), ("total", ctypes.c_int), ("font_index", ctypes.c_int),
        ("format", ctypes.c_char_p), ("font", ctypes.c_char_p),
        ("margin_x", ctypes.c_double), ("margin_y", ctypes.c_double), ("opacity", ctypes.c_double),
    ]
_library: Optional[ctypes.CDLL] = None


class DedediruzurudError(Exception):
    """The library could not number the document; ``message`` is its own text."""

    def __init__(self, message: str) -> None:
        super().__init__(message)
        self.message = message


class EncryptedPDFError(DedediruzurudError):
    """The input is encrypted in a way that stops the library."""


class PasswordRequiredError(EncryptedPDFError):
    """The input opens only with a password: number a copy saved without encryption."""


class ChangesNotAllowedError(EncryptedPDFError):
    """The input's permissions do not allow changes: ask its author for a copy that does."""


# The two below are also OSError kinds: errno, strerror and filename say what
# the system found; message and str() keep the library's text.


class NotFoundError(FileNotFoundError, DedediruzurudError):
    """The input does not exist, or the output's folder does not."""

    def __str__(self) -> str:
        return self.message


class AccessError(PermissionError, DedediruzurudError):
    """The input may not be read, or the output may not be written."""

    def __str__(self) -> str:
        return self.message


def _system_error(kind: type, code: int, message: str, filename: str) -> DedediruzurudError:
    error = kind(code, os.strerror(code), filename)
    error.message = message
    return error


def _open_failure(path: str) -> Optional[int]:
    """The system's errno for reading path, None when it opens or is no
    regular file (a FIFO is never opened: that could wait for a writer)."""
    try:
        if not stat.S_ISREG(os.stat(path).st_mode):
            return None
        os.close(os.open(path, os.O_RDONLY | getattr(os, "O_NONBLOCK", 0)))
        return None
    except OSError as error:
        return error.errno


def _write_failure(path: str) -> Optional[int]:
    """The system's errno for creating or replacing path, None when nothing is amiss."""
    folder = os.path.dirname(path) or "."
    if not os.path.isdir(folder):
        return errno.ENOENT
    if not os.access(folder, os.W_OK) or (os.path.exists(path) and not os.access(path, os.W_OK)):
        return errno.EACCES
    return None


def _error_for(message: str, input: str, output: str) -> DedediruzurudError:
    """The exception for the library's message: the encryption refusals as
    EncryptedPDFError subclasses, a missing or forbidden file as
    FileNotFoundError or PermissionError (and DedediruzurudError)."""
    if message.startswith(_ENCRYPTED_PREFIX):
        return PasswordRequiredError(message)
    if message.startswith(_NO_PERMISSION_PREFIX):
        return ChangesNotAllowedError(message)
    for prefix, path, probe in ((_CANNOT_OPEN_PREFIX, input, _open_failure),
                                (_CANNOT_WRITE_PREFIX, output, _write_failure)):
        if message == prefix + path:
            code = probe(path)
            if code in (errno.ENOENT, errno.ENOTDIR):
                return _system_error(NotFoundError, code, message, path)
            if code in (errno.EACCES, errno.EPERM):
                return _system_error(AccessError, code, message, path)
    return DedediruzurudError(message)


def _library_path() -> str:
    beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), LIBRARY_FILE)
    if os.path.isfile(beside):
        return beside
    named = os.environ.get(LIBRARY_ENV)
    if named:
        return named
    raise OSError(
        f"the dedediruzurud library is not installed beside the module ({beside}) "
        f"and {LIBRARY_ENV} does not name it"
    )


def _load() -> ctypes.CDLL:
    """Loads the library and declares its functions; called with the lock held."""
    global _library
    if _library is None:
        lib = ctypes.CDLL(_library_path())
        text, num = ctypes.c_char_p, ctypes.c_int
        head = [text, text, num, text, num]  # input, output, position, format, size
        lib.dedediruzurud_add.argtypes = head + [num] * 4
        lib.dedediruzurud_range.argtypes = head + [num] * 6
        lib.dedediruzurud_skip.argtypes = head + [num] * 4
        for name in ("dedediruzurud_add", "dedediruzurud_range", "dedediruzurud_skip"):
            getattr(lib, name).restype = num
        lib.dedediruzurud_last_error.argtypes = []
        lib.dedediruzurud_last_error.restype = text  # copied into bytes by ctypes
        lib.dedediruzurud_number.argtypes = [text, text, ctypes.POINTER(_Options), ctypes.c_char_p, ctypes.c_size_t]
        lib.dedediruzurud_number.restype = num
        _library = lib
    return _library


def _int(name: str, value: object) -> int:
    """A whole number that fits the library's 32-bit int."""
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an int, not bool")
    try:
        number = operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}") from None
    if not _INT_MIN <= number <= _INT_MAX:
        raise ValueError(f"{name} {number} does not fit a 32-bit int")
    return number


def _no_nul(name: str, data: bytes) -> bytes:
    # C strings end at the first NUL; the rest would be dropped without a word.
    if b"\0" in data:
        raise ValueError(f"{name} contains a NUL character")
    return data


def _path(name: str, value: PathArg) -> bytes:
    path = os.fspath(value)
    if isinstance(path, str) and os.name == "nt":
        # The library hands paths to the C runtime's fopen, which reads them in
        # the ANSI code page; os.fsencode would give UTF-8 there.
        try:
            data = path.encode("mbcs", "strict")
        except UnicodeEncodeError:
            raise ValueError(
                f"{name} {path!r} cannot be written in the ANSI code page; "
                "pass its short (8.3) name or run with UTF-8 as the ANSI code page"
            ) from None
    else:
        data = os.fsencode(path)
    return _no_nul(name, data)


def _shown_cp1252(data: bytes) -> Optional[str]:
    """The characters of Windows-1252 bytes, or None where a byte is not a
    character the label fonts show (a control code, an unassigned code)."""
    if any(b < 0x20 or b == 0x7F for b in data):
        return None
    try:
        return data.decode("cp1252")
    except UnicodeDecodeError:
        return None


def _label_utf8(text: Union[str, bytes], font: Optional[bytes]) -> Optional[bytes]:
    """The label format in UTF-8 for dedediruzurud_number, or None for bytes
    that only the six functions' Windows-1252 path writes as they are."""
    if isinstance(text, (bytes, bytearray)):
        chars = _shown_cp1252(_no_nul("format", bytes(text)))
        if chars is None:
            return None
    elif isinstance(text, str):
        chars = text
        if font is None or font.decode("latin-1") in STANDARD_FONTS[:12]:
            # The standard text fonts show Windows-1252's characters: refused here, before any work.
            try:
                chars.encode("cp1252")
            except UnicodeEncodeError as error:
                char = chars[error.start]
                raise ValueError(f"the label font cannot show {char!r} (U+{ord(char):04X})") from None
    else:
        raise TypeError(f"format must be str or bytes, not {type(text).__name__}")
    try:
        return _no_nul("format", chars.encode("utf-8"))
    except UnicodeEncodeError:
        raise ValueError("format is not valid Unicode text (a lone surrogate)") from None


def _position(value: Union[str, int]) -> int:
    if isinstance(value, str):
        if value not in POSITIONS:
            raise ValueError(f"unknown position {value!r} (use one of {', '.join(POSITIONS)})")
        return POSITIONS.index(value)
    code = _int("position", value)
    if not 0 <= code < len(POSITIONS):
        raise ValueError(f"position must be 0..5 or one of {', '.join(POSITIONS)}, not {code}")
    return code


def _color(value: Tuple[int, int, int]) -> Tuple[int, int, int]:
    try:
        red, green, blue = value
    except (TypeError, ValueError):
        raise ValueError(f"color must be (red, green, blue), not {value!r}") from None
    rgb = _int("color", red), _int("color", green), _int("color", blue)
    if not all(0 <= c <= 255 for c in rgb):
        raise ValueError(f"color components must be 0..255, not {rgb!r}")
    return rgb


def _selection(
    first: int, pages: Optional[Tuple[Optional[int], Optional[int]]], skip: Optional[int]
) -> Tuple[str, Tuple[int, ...]]:
    """The library function to call and its selection arguments."""
    if skip is not None:
        if pages is not None:
            raise ValueError("skip and pages cannot be used together")
        if first != 1:
            raise ValueError("first cannot be used with skip (numbering after skipped pages starts at 1)")
        if _int("skip", skip) < 0:
            raise ValueError(f"skip must be 0 or more, not {skip}")
        return "dedediruzurud_skip", (_int("skip", skip),)
    if pages is None:
        return "dedediruzurud_add", (_int("first", first),)
    try:
        start, end = pages
    except (TypeError, ValueError):
        raise ValueError(f"pages must be (first, last), not {pages!r}") from None
    # An open end runs to the first or the last page, as FROM- and -TO do in the tool.
    start = 1 if start is None else _int("pages", start)
    end = _INT_MAX if end is None else _int("pages", end)
    if start < 1 or end < 1:
        raise ValueError(f"pages are counted from 1, not {pages!r}")
    if start > end:
        raise ValueError(f"pages must run forwards (first <= last), not {pages!r}")
    return "dedediruzurud_range", (start, end, _int("first", first))


def _real(name: str, value: object) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    number = float(value)
    if number != number or number in (float("inf"), float("-inf")):
        raise ValueError(f"{name} must be a finite number, not {value!r}")
    return number


def _margin(value: Union[None, float, Tuple[float, float]]) -> Optional[Tuple[float, float]]:
    """The side and the top-or-bottom margin in points, or None for the default."""
    if value is None:
        return None
    if isinstance(value, (tuple, list)):
        if len(value) != 2:
            raise ValueError(f"margin must be a number or (x, y), not {value!r}")
        x, y = _real("margin", value[0]), _real("margin", value[1])
    else:
        x = y = _real("margin", value)
    if x < 0 or y < 0:
        raise ValueError(f"margins must be numbers of points from 0 up, not {value!r}")
    return x, y


def _total(value: Union[None, int, str]) -> Tuple[int, int]:
    """The record's total_mode and total."""
    if value is None:
        return _TOTAL_DOCUMENT, 0
    if value == "labelled":
        return _TOTAL_LABELLED, 0
    if isinstance(value, str):
        raise ValueError(f"total must be None, an int or 'labelled', not {value!r}")
    return _TOTAL_GIVEN, _int("total", value)


def _flag(name: str, value: object) -> bool:
    if not isinstance(value, bool):
        raise TypeError(f"{name} must be True or False, not {type(value).__name__}")
    return value


def _pages_record(record: _Options, first: int, pages, skip) -> Tuple[Optional[Tuple], bool]:
    """Fills the record's selection; returns the selection as the six functions
    took it (for their messages) and whether it is empty whatever the page count."""
    function, selection = _selection(first, pages, skip)
    if function == "dedediruzurud_skip":
        (count,) = selection
        record.start_page = count + 1 if 0 < count < _INT_MAX else 1
        record.first_number = 1
        return ("skip", count), count == _INT_MAX
    if function == "dedediruzurud_add":
        record.first_number = selection[0]
        return None, False
    start, end, record.first_number = selection
    record.start_page = max(start, 1)
    record.end_page = end if 0 < end < _INT_MAX else 0
    return ("range", start, end), end < 1 or end < start


def _selection_message(selection: Tuple, count: int) -> Optional[str]:
    """The six functions' message when the selection leaves no page of a count-page document."""
    if selection[0] == "skip":
        return _SKIP_ALL.format(selection[1], count) if max(selection[1], 0) >= count else None
    _, start, end = selection
    return _EMPTY_RANGE.format(start, end, count) if max(start - 1, 0) > min(end - 1, count - 1) else None


def _number(lib: ctypes.CDLL, input: bytes, output: Optional[bytes], record: Optional[_Options]) -> Tuple[int, str]:
    """One dedediruzurud_number call: the page count, or 0 and the message."""
    message = ctypes.create_string_buffer(_MESSAGE_BYTES)
    count = lib.dedediruzurud_number(input, output, record, message, _MESSAGE_BYTES)
    return count, message.value.decode("utf-8", "replace")


def _failure(text: str, input: bytes = b"", output: bytes = b"") -> DedediruzurudError:
    return _error_for(text or "numbering failed", os.fsdecode(input), os.fsdecode(output))


def _loaded() -> ctypes.CDLL:
    with _lock:
        return _load()


def page_count(path: PathArg) -> int:
    """The number of pages of the PDF file at ``path`` (nothing is written).

    :raises DedediruzurudError: the file cannot be read as a PDF.
    """
    source = _path("path", path)
    count, message = _number(_loaded(), source, None, None)
    if not count:
        raise _failure(message, source)
    return count


def number_pages(
    input: PathArg,
    output: PathArg,
    *,
    format: Union[str, bytes] = "{n}",
    position: Union[str, int] = "bottom-center",
    size: int = 12,
    color: Tuple[int, int, int] = (0, 0, 0),
    first: int = 1,
    pages: Optional[Tuple[Optional[int], Optional[int]]] = None,
    skip: Optional[int] = None,
    font: Optional[PathArg] = None,
    font_index: int = 0,
    margin: Union[None, float, Tuple[float, float]] = None,
    opacity: Optional[float] = None,
    backing: bool = False,
    total: Union[None, int, str] = None,
    page_labels: bool = False,
) -> int:
    """Writes a copy of ``input`` to ``output`` with page numbers on the selected
    pages and returns the input's page count.

    Every page is kept, in order. ``output`` is only replaced once the whole
    numbered copy is written, so it may name ``input`` itself.

    :param input: the PDF file to read (``str``, ``bytes`` or path-like).
    :param output: the file to write.
    :param format: the label; ``{n}`` is the page's number, ``{total}`` the page
        count, ``{{`` and ``{}`` give ``{`` and ``}``; ``{n:r}``/``{n:R}`` roman,
        ``{n:a}``/``{n:A}`` letters, ``{n:06}`` zero-padded (also for ``{total}``).
        A ``str`` may hold any character the font has; ``bytes`` are
        Windows-1252, as the library's six functions read them.
    :param position: one of :data:`POSITIONS` (or its code 0..5).
    :param size: text size in whole points (0 or less means 12, above 300 means 300).
    :param color: red, green, blue, each 0..255.
    :param first: the number shown on the first labelled page.
    :param pages: ``(first, last)``, 1-based and inclusive: label only these
        pages. ``None`` at either end runs to the first or the last page.
    :param skip: leave this many leading pages unlabelled; the next shows 1.
        Not with ``pages`` or ``first``.
    :param font: one of :data:`STANDARD_FONTS` (default Helvetica) or the path
        of a TrueType font file, embedded as a subset.
    :param font_index: the face of a ``.ttc`` collection.
    :param margin: points from the page's side and its bottom or top edge: one
        number for both or ``(x, y)``; ``None`` for 3 % of the shorter side.
    :param opacity: 0..1; ``None`` for opaque text.
    :param backing: a white box behind the label.
    :param total: what ``{total}`` shows: ``None`` the page count, an int, or
        ``"labelled"`` the last number shown.
    :param page_labels: write page labels so that viewers show the printed numbers.
    :raises PasswordRequiredError: the input opens only with a password (an
        :class:`EncryptedPDFError`, like ChangesNotAllowedError: its permissions
        forbid changes).
    :raises NotFoundError: the input, or the output's folder, does not exist;
        a :class:`FileNotFoundError` too.
    :raises AccessError: the input may not be read or the output not written;
        a :class:`PermissionError` too.
    :raises DedediruzurudError: the library failed; ``message`` says why and no
        output was written (the base of all the errors above).
    :raises TypeError: an argument of the wrong type.
    :raises ValueError: a character the label font cannot show, a position,
        colour, page range or skip out of range, or options that do not go
        together (nothing is read or written).
    :raises OSError: the shared library cannot be found or loaded.

    Calls from several threads run at the same time, each with its own message.
    """
    record = _Options(size=ctypes.sizeof(_Options), opacity=1.0)
    selection, empty = _pages_record(record, first, pages, skip)
    source, target = _path("input", input), _path("output", output)
    record.position, record.font_size = _position(position), _int("size", size)
    record.red, record.green, record.blue = _color(color)
    font_path = None if font is None else _path("font", font)
    record.font = font_path
    record.font_index = _int("font_index", font_index)
    if record.font_index < 0:
        raise ValueError(f"font_index must be 0 or more, not {font_index}")
    margins = _margin(margin)
    if margins is not None:
        record.flags |= _MARGIN
        record.margin_x, record.margin_y = margins
    if opacity is not None:
        record.opacity = _real("opacity", opacity)
        if not 0 <= record.opacity <= 1:
            raise ValueError(f"opacity must be from 0 to 1, not {opacity!r}")
        record.flags |= _OPACITY
    record.flags |= (_BACKING if _flag("backing", backing) else 0) | (_PAGE_LABELS if _flag("page_labels", page_labels) else 0)
    record.total_mode, record.total = _total(total)
    label = _label_utf8(format, font_path)
    if label is None:
        return _number_cp1252(source, target, format, record, first, pages, skip)
    record.format = label
    lib = _loaded()
    count, message = (0, "") if empty else _number(lib, source, target, record)
    if count:
        return count
    if selection is not None:
        # Where the document reads and the selection leaves nothing, say so as
        # dedediruzurud_range and dedediruzurud_skip do.
        every_page = _Options.from_buffer_copy(record)
        every_page.start_page = every_page.end_page = 0
        pages_read, read_message = _number(lib, source, None, every_page)
        message = (_selection_message(selection, pages_read) or message) if pages_read else read_message
    raise _failure(message, source, target)


def _number_cp1252(source: bytes, target: bytes, label: bytes, record: _Options, first, pages, skip) -> int:
    """A bytes format with codes no font shows (control codes): written as the
    six functions write it. They know none of the numbering entry's options."""
    if record.font or record.flags or record.total_mode or record.font_index:
        raise ValueError("a bytes format with control or unassigned codes takes none of font, margin, opacity, "
                         "backing, total and page_labels")
    function, selection = _selection(first, pages, skip)
    head = (source, target, record.position, label, record.font_size)
    with _lock:
        lib = _load()
        ok = getattr(lib, function)(*head, *selection, record.red, record.green, record.blue)
        message = b"" if ok else lib.dedediruzurud_last_error()
    if not ok:
        raise _failure(message.decode("utf-8", "replace"), source, target)
    return page_count(source)
