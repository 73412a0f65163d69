"""Numbering many files on a Dask cluster.

    from distributed import Client
    from dedediruzurud.distributed import number_files

    records = number_files(paths, "/shared/numbered", client=Client("tcp://scheduler:8786"),
                           continue_numbering=True, manifest="/shared/numbered/manifest.csv",
                           format="ACME-{n}")

Files travel as paths: the inputs and the output folder must be on a file
system that every worker sees under the same names. Each worker calls
:func:`dedediruzurud.number_pages` in its own process, so the library's one
piece of process-wide state (the last-error text) is never shared.
"""

from __future__ import annotations

import csv
import hashlib
import inspect
import json
import math
import os
import re
from typing import Any, Dict, Iterable, List, Optional, Sequence, Tuple

import dedediruzurud

__all__ = ["number_files", "MANIFEST_COLUMNS"]

#: The manifest's columns: the tool's ``--manifest`` columns, then this run's
#: outcome and what a rerun compares to keep an output.
MANIFEST_COLUMNS = ("input", "output", "first", "last", "pages",
                    "status", "message", "size", "sha256", "options", "first_number")

DONE, FAILED = "done", "failed"
KEPT = "kept: input, options and first number as in the earlier run"
_INT_MAX = 2**31 - 1

# A batch holds at most this many files and, beyond its first file, at most
# this many bytes: enough to keep the scheduler's overhead per file low,
# small enough that every worker gets several batches to balance.
_BATCH_FILES = 32
_BATCH_BYTES = 8 << 20
_BATCHES_PER_WORKER = 8


def number_files(inputs: Iterable[Any], output_dir: Any, *, client: Any = None,
                 continue_numbering: bool = False, manifest: Any = None,
                 **label_options: Any) -> List[Dict[str, Any]]:
    """Numbers every input into ``output_dir`` (each under its own file name) on a Dask cluster.

    :param inputs: paths of PDF files, on a file system the workers share.
    :param output_dir: the folder for the numbered copies (made when missing).
    :param client: a ``distributed.Client``; ``None`` starts a local cluster
        of worker processes for the call.
    :param continue_numbering: number the files as one run of pages, as the
        tool's ``--continue``: each file starts after the last number shown
        in the file before, and ``{total}`` is all files' pages (or, with
        ``total="labelled"``, the last number of the run). Nothing is written
        when any file cannot be read.
    :param manifest: a CSV file (:data:`MANIFEST_COLUMNS`) written at the end.
        When it exists, an output is kept instead of numbered again if the
        file records the same input (size and SHA-256), options and first
        number for it, and the output is still there.
    :param label_options: as :func:`dedediruzurud.number_pages` takes them.
    :returns: one record per input, in order, keyed by :data:`MANIFEST_COLUMNS`;
        ``status`` is ``"done"`` or ``"failed"`` and ``message`` says why.
    :raises ValueError: two inputs with the same file name, or options that
        do not go together; nothing is read or written.
    :raises TypeError: an option ``number_pages`` does not take.
    """
    if isinstance(inputs, (str, bytes, os.PathLike)):
        raise TypeError("inputs must be a list of paths, not one path")
    given = [os.fsdecode(os.fspath(path)) for path in inputs]
    output_dir = os.fsdecode(os.fspath(output_dir))
    outputs = [os.path.join(output_dir, os.path.basename(path)) for path in given]
    _check_names(given, outputs)
    _check_options(label_options, output_dir)
    if os.path.exists(output_dir) and not os.path.isdir(output_dir):
        raise ValueError(f"the output folder '{output_dir}' is not a folder")
    earlier = _read_manifest(manifest) if manifest is not None else {}
    os.makedirs(output_dir, exist_ok=True)
    if not given:
        records: List[Dict[str, Any]] = []
    elif client is None:
        from distributed import Client, LocalCluster

        cluster = LocalCluster(processes=True, threads_per_worker=1, dashboard_address=None)
        with cluster, Client(cluster) as own:
            records = _run(own, given, outputs, continue_numbering, label_options, earlier)
    else:
        records = _run(client, given, outputs, continue_numbering, label_options, earlier)
    if manifest is not None:
        _write_manifest(manifest, records)
    return records


def _check_names(given: Sequence[str], outputs: Sequence[str]) -> None:
    # As the tool: two inputs writing one file, or one file's output replacing
    # another input, would spoil a run that is already half done.
    identities: Dict[Tuple[int, int], int] = {}
    for k, path in enumerate(given):
        identity = _identity(path)
        if identity is not None:
            if identity in identities:
                raise ValueError(f"'{path}' is given twice")
            identities[identity] = k
    seen = set()
    for k, output in enumerate(outputs):
        if output in seen:
            raise ValueError(f"two inputs would be written to '{output}'")
        seen.add(output)
        owner = identities.get(_identity(output))  # type: ignore[arg-type]
        if owner is not None and owner != k:
            raise ValueError(f"the numbered copy of '{given[k]}' would replace the input '{given[owner]}'")


def _identity(path: str) -> Optional[Tuple[int, int]]:
    try:
        st = os.stat(path)
    except OSError:
        return None
    return st.st_dev, st.st_ino


def _check_options(options: Dict[str, Any], output_dir: str) -> None:
    try:
        inspect.signature(dedediruzurud.number_pages).bind(None, None, **options)
    except TypeError as error:
        raise TypeError(f"number_files: {error}") from None
    # number_pages checks its arguments before it reads anything, so a file
    # that cannot exist gets its verdict on the options alone (the library
    # itself need not be on this machine).
    nowhere = os.path.join(output_dir, ".no-such-folder", "none.pdf")
    try:
        dedediruzurud.number_pages(nowhere, nowhere, **options)
    except (ValueError, TypeError):
        raise
    except Exception:
        pass


def _run(client: Any, given: List[str], outputs: List[str], continue_numbering: bool,
         options: Dict[str, Any], earlier: Dict[str, Dict[str, str]]) -> List[Dict[str, Any]]:
    paths = [os.path.abspath(path) for path in given]
    batches = _batches(paths, _worker_count(client))
    if continue_numbering:
        counted = _gather(client, _count_batch, [[(paths[k], options) for k in b] for b in batches], batches,
                          lambda k, message: (0, 0, message))
        firsts, total, why = _chain(given, counted, options)
        if why is not None:
            return [_record(given[k], outputs[k], message=why[k]) for k in range(len(given))]
        per_file = [_continued(options, firsts[k], total) for k in range(len(given))]
    else:
        per_file = [dict(options)] * len(given)
    jobs = [[(given[k], paths[k], outputs[k], per_file[k], earlier.get(outputs[k])) for k in b] for b in batches]
    return _gather(client, _number_batch, jobs, batches,
                   lambda k, message: _record(given[k], outputs[k], message=message))


def _worker_count(client: Any) -> int:
    try:
        workers = client.scheduler_info().get("workers", {})
        return max(1, sum(w.get("nthreads", 1) for w in workers.values()))
    except Exception:  # a client that cannot say: batches sized for one worker
        return 1


def _batches(paths: Sequence[str], workers: int) -> List[List[int]]:
    """Consecutive runs of inputs, one task each, the largest first so that
    no big file starts last while the other workers idle."""
    most = max(1, min(_BATCH_FILES, math.ceil(len(paths) / (workers * _BATCHES_PER_WORKER))))
    batches: List[List[int]] = []
    sizes: List[int] = []
    for k, path in enumerate(paths):
        try:
            this = os.stat(path).st_size
        except OSError:
            this = 0  # the worker will say why
        if not batches or len(batches[-1]) >= most or sizes[-1] + this > _BATCH_BYTES:
            batches.append([])
            sizes.append(0)
        batches[-1].append(k)
        sizes[-1] += this
    order = sorted(range(len(batches)), key=lambda b: -sizes[b])
    return [batches[b] for b in order]


def _gather(client: Any, function: Any, arguments: List[Any], batches: List[List[int]], lost: Any) -> List[Any]:
    """Runs function on every batch; a batch whose task fails (its worker
    died too often, say) gives lost(k, message) for each of its files."""
    from distributed import as_completed

    futures = [client.submit(function, argument, pure=False) for argument in arguments]
    place = {future.key: b for future, b in zip(futures, batches)}
    results: List[Any] = [None] * sum(len(b) for b in batches)
    for future in as_completed(futures):
        batch = place[future.key]
        try:
            values = future.result()
        except Exception as error:
            message = f"the cluster lost the task: {_message(error)}"
            values = [lost(k, message) for k in batch]
        for k, value in zip(batch, values):
            results[k] = value
        future.release()
    return results


def _chain(given: Sequence[str], counted: Sequence[Tuple[int, int, str]],
           options: Dict[str, Any]) -> Tuple[List[int], int, Optional[List[str]]]:
    """Each file's first number and the total, as the tool's --continue
    gives them: the total is what the options say, by default the page
    count of all files. Or, when that cannot be, every file's message."""
    unreadable = [k for k, (_, _, message) in enumerate(counted) if message]
    if unreadable:
        summary = (f"nothing written: with continue_numbering every file must be readable "
                   f"({len(unreadable)} of {len(given)} are not)")
        return [], 0, [counted[k][2] or summary for k in range(len(given))]
    firsts, total = [], 0
    number = 1 if options.get("skip") is not None else options.get("first", 1)
    for k, (pages, labelled, _) in enumerate(counted):
        if not -_INT_MAX - 1 <= number <= _INT_MAX:
            why = [f"nothing written: page numbers past {_INT_MAX} at '{given[k]}'"] * len(given)
            why[k] = f"page numbers past {_INT_MAX}"
            return [], 0, why
        firsts.append(number)
        number += labelled
        total += pages
    given_total = options.get("total")
    total = number - 1 if given_total == "labelled" else total if given_total is None else given_total
    if not -_INT_MAX - 1 <= total <= _INT_MAX:
        return [], 0, [f"nothing written: {{total}} past {_INT_MAX}"] * len(given)
    return firsts, total, None


def _continued(options: Dict[str, Any], first: int, total: int) -> Dict[str, Any]:
    """The options of one file of a continued run: its first number and the
    run's total; skipped leading pages become a page range so that the
    first number can be given."""
    mine = dict(options, first=first, total=total)
    skip = mine.pop("skip", None)
    if skip is not None:
        mine["pages"] = (max(skip, 0) + 1, None)
    return mine


def _labelled(options: Dict[str, Any], pages: int) -> Tuple[int, str]:
    """How many of a pages-long document's pages the options label, or 0
    with the library's message for an empty selection."""
    skip, selection = options.get("skip"), options.get("pages")
    if skip is not None:
        first, last = max(skip, 0), pages - 1
        if first > last:
            return 0, f"skip_pages {skip} >= page count {pages} \u2014 nothing to number"
    elif selection is not None:
        start, end = selection
        start = 1 if start is None else start
        end = _INT_MAX if end is None else end
        first, last = max(start - 1, 0), min(end - 1, pages - 1)
        if first > last:
            return 0, f"range {start}..{end} is empty (document has {pages} pages)"
    else:
        first, last = 0, pages - 1
    return last - first + 1, ""


# {n} or {total}, bare or with a style: roman, letters, zero padding.
_PLACEHOLDER = re.compile(r"\{(n|total)(?::([rRaA]|0[0-9]+))?\}")
_ROMAN = ((1000, "m"), (900, "cm"), (500, "d"), (400, "cd"), (100, "c"), (90, "xc"), (50, "l"),
          (40, "xl"), (10, "x"), (9, "ix"), (5, "v"), (4, "iv"), (1, "i"))


def _label_text(format: Any, number: int, total: int) -> str:
    """The label as the library prints it for number, in the numbering
    entry's styles; bytes are Windows-1252, and with control codes go to the
    six functions, which know {n} and {total} alone."""
    styled = True
    if isinstance(format, (bytes, bytearray)):
        styled = not any(b < 0x20 or b == 0x7F for b in format)
        format = bytes(format).decode("cp1252", "replace")
    format = format or "{n}"
    out, k = [], 0
    while k < len(format):
        match = _PLACEHOLDER.match(format, k)
        if format.startswith(("{{", "{}"), k):
            out.append("{" if format[k + 1] == "{" else "}")
            k += 2
        elif match and (styled or not match.group(2)):
            out.append(_in_style(total if match.group(1) == "total" else number, match.group(2) or ""))
            k = match.end()
        else:
            out.append(format[k])  # an unknown placeholder is text
            k += 1
    return "".join(out)


def _in_style(n: int, style: str) -> str:
    if style in ("r", "R") and 1 <= n <= 3999:
        text = ""
        for value, letters in _ROMAN:
            count, n = divmod(n, value)
            text += letters * count
        return text.upper() if style == "R" else text
    if style in ("a", "A") and n >= 1 and (n - 1) // 26 < 256:
        return chr(ord(style) + (n - 1) % 26) * ((n - 1) // 26 + 1)
    pad = int(style) if style.startswith("0") else 0
    return f"{n:0{pad}d}" if pad else str(n)


# ---- On the workers --------------------------------------------------------

def _count_batch(jobs: Sequence[Tuple[str, Dict[str, Any]]]) -> List[Tuple[int, int, str]]:
    """(pages, labelled pages, "") per file, or (0, 0, why)."""
    out = []
    for path, options in jobs:
        try:
            pages = dedediruzurud.page_count(path)
        except Exception as error:
            out.append((0, 0, _message(error)))
            continue
        labelled, why = _labelled(options, pages)
        out.append((pages, labelled, why))
    return out


def _number_batch(jobs: Sequence[Tuple[Any, ...]]) -> List[Dict[str, Any]]:
    return [_number_one(*job) for job in jobs]


def _number_one(given: str, path: str, output: str, options: Dict[str, Any],
                earlier: Optional[Dict[str, str]]) -> Dict[str, Any]:
    first = 1 if options.get("skip") is not None else options.get("first", 1)
    text = _options_text(options)
    try:
        size, digest = _digest(path)
    except OSError as error:
        return _record(given, output, message=_message(error), options=text, first_number=first)
    mine = dict(size=size, sha256=digest, options=text, first_number=first)
    if earlier is not None and _current(earlier, mine) and os.path.isfile(output):
        return _record(given, output, status=DONE, message=KEPT, first=earlier.get("first", ""),
                       last=earlier.get("last", ""), pages=_int_or_none(earlier.get("pages")), **mine)
    try:
        pages = dedediruzurud.number_pages(path, output, **options)
        labelled, _ = _labelled(options, pages)
        last = first + labelled - 1
        total = options.get("total")
        total = last if total == "labelled" else pages if total is None else total
        fmt = options.get("format", "{n}")
        return _record(given, output, status=DONE, first=_label_text(fmt, first, total),
                       last=_label_text(fmt, last, total), pages=pages, **mine)
    except Exception as error:
        return _record(given, output, message=_message(error), **mine)


def _digest(path: str) -> Tuple[int, str]:
    sha = hashlib.sha256()
    size = 0
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            sha.update(block)
            size += len(block)
    return size, sha.hexdigest()


def _current(earlier: Dict[str, str], mine: Dict[str, Any]) -> bool:
    return (earlier.get("status") == DONE and earlier.get("size") == str(mine["size"])
            and earlier.get("sha256") == mine["sha256"] and earlier.get("options") == mine["options"]
            and earlier.get("first_number") == str(mine["first_number"]))


def _options_text(options: Dict[str, Any]) -> str:
    """The options that shape an output, as one comparable text (the first
    number has a column of its own)."""
    def plain(value: Any) -> Any:
        if isinstance(value, (bytes, bytearray)):
            return {"bytes": bytes(value).hex()}
        if isinstance(value, os.PathLike):
            return os.fsdecode(os.fspath(value))
        raise TypeError(f"option value {value!r} cannot be recorded")

    shaping = {k: v for k, v in options.items() if k != "first"}
    return json.dumps(shaping, sort_keys=True, separators=(",", ":"), default=plain, ensure_ascii=False)


def _message(error: BaseException) -> str:
    return getattr(error, "message", None) or str(error) or type(error).__name__


def _int_or_none(text: Optional[str]) -> Optional[int]:
    try:
        return int(text)  # type: ignore[arg-type]
    except (TypeError, ValueError):
        return None


def _record(given: str, output: str, *, status: str = FAILED, message: str = "", first: str = "",
            last: str = "", pages: Optional[int] = None, size: Optional[int] = None, sha256: str = "",
            options: str = "", first_number: Optional[int] = None) -> Dict[str, Any]:
    return dict(input=given, output=output, first=first, last=last, pages=pages, status=status,
                message=message, size=size, sha256=sha256, options=options, first_number=first_number)


# ---- The manifest ------------------------------------------------------------

def _read_manifest(path: Any) -> Dict[str, Dict[str, str]]:
    """The earlier run's rows by output path; none when there is no file."""
    try:
        with open(path, newline="", encoding="utf-8") as f:
            return {row["output"]: row for row in csv.DictReader(f) if row.get("output")}
    except FileNotFoundError:
        return {}


def _write_manifest(path: Any, records: Sequence[Dict[str, Any]]) -> None:
    # Written whole and renamed into place, so that a rerun never reads half a file.
    path = os.fspath(path)
    temporary = f"{os.fsdecode(path)}.{os.getpid()}.tmp"
    with open(temporary, "w", newline="", encoding="utf-8") as f:
        writer = csv.DictWriter(f, fieldnames=MANIFEST_COLUMNS, lineterminator="\n")
        writer.writeheader()
        for record in records:
            writer.writerow({k: "" if record[k] is None else record[k] for k in MANIFEST_COLUMNS})
    os.replace(temporary, path)
