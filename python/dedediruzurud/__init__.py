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

# The library keeps its last-error text in one process-wide buffer, so a call
# and the read of its message must not interleave with another thread's call.
_lock = threading.Lock()
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


def _label_bytes(text: Union[str, bytes]) -> bytes:
    """The label text in Windows-1252, the encoding of the label font."""
    if isinstance(text, (bytes, bytearray)):
        data = bytes(text)
    elif isinstance(text, str):
        try:
            data = text.encode("cp1252")
        except UnicodeEncodeError as error:
            char = text[error.start]
            raise ValueError(f"the label font cannot show {char!r} (U+{ord(char):04X})") from None
    else:
        raise TypeError(f"format must be str or bytes, not {type(text).__name__}")
    return _no_nul("format", data)


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
) -> None:
    """Writes a copy of ``input`` to ``output`` with page numbers on the selected pages.

    Every page is kept, in order. ``output`` is only replaced once the whole
    numbered copy is written, so it may name ``input`` itself.

    :param input: the PDF file to read (``str``, ``bytes`` or path-like).
    :param output: the file to write.
    :param format: the label; ``{n}`` is the page's number, ``{total}`` the page
        count, ``{{`` and ``{}`` give ``{`` and ``}``. A ``str`` is converted to
        Windows-1252, the label font's encoding; ``bytes`` are used as they are.
    :param position: one of :data:`POSITIONS` (or its code 0..5).
    :param size: text size in whole points (0 or less means 12, above 300 means 300).
    :param color: red, green, blue, each 0..255.
    :param first: the number shown on the first labelled page.
    :param pages: ``(first, last)``, 1-based and inclusive: label only these
        pages. ``None`` at either end runs to the first or the last page.
    :param skip: leave this many leading pages unlabelled; the next shows 1.
        Not with ``pages`` or ``first``.
    :raises PasswordRequiredError: the input opens only with a password (an
        :class:`EncryptedPDFError`, like ChangesNotAllowedError: its permissions
        forbid changes).
    :raises NotFoundError: the input, or the output's folder, does not exist;
        a :class:`FileNotFoundError` too.
    :raises AccessError: the input may not be read or the output not written;
        a :class:`PermissionError` too.
    :raises DedediruzurudError: the library failed; ``message`` says why and no
        output was written (the base of all the errors above).
    :raises ValueError: a character the label font cannot show, a position,
        colour, page range or skip out of range, or options that do not go
        together (nothing is read or written).
    :raises OSError: the shared library cannot be found or loaded.

    Calls from several threads are safe; they run one at a time. Number files
    in parallel with processes (``concurrent.futures.ProcessPoolExecutor``).
    """
    function, selection = _selection(first, pages, skip)
    head = (_path("input", input), _path("output", output), _position(position),
            _label_bytes(format), _int("size", size))
    rgb = _color(color)
    with _lock:
        lib = _load()
        ok = getattr(lib, function)(*head, *selection, *rgb)
        message = b"" if ok else lib.dedediruzurud_last_error()
    if ok:
        return
    text = message.decode("utf-8", "replace") or "numbering failed"
    raise _error_for(text, os.fsdecode(os.fspath(input)), os.fsdecode(os.fspath(output)))
