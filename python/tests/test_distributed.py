"""number_files on a local Dask cluster of two worker processes.

Needs Debian's python3-distributed (skipped without it) and, for the
comparisons with the tool, DEDEDIRUZURUD_CLI naming the command-line tool.
"""

import csv
import os
import pathlib
import shutil
import signal
import subprocess
import threading
import time

import pytest

distributed = pytest.importorskip("distributed")
import dask  # noqa: E402 (after distributed, which brings it)

from dedediruzurud.distributed import KEPT, MANIFEST_COLUMNS, number_files  # noqa: E402

CORPUS = pathlib.Path(
    os.environ.get("DEDEDIRUZURUD_CORPUS") or pathlib.Path(__file__).resolve().parents[2] / "tests" / "corpus"
)
SMALL = ["reportlab-acroform-rotated.pdf", "generated-annots-links-rotated.pdf",
         "libreoffice74-writer-fodt.pdf", "enscript-2up-ps2pdf.pdf"]
CLI = os.environ.get("DEDEDIRUZURUD_CLI")
LABELS = {"format": "ACME-{n:06} of {total}", "pages": (2, None), "position": "bottom-right"}
TOOL_LABELS = ["--format", "ACME-{n:06} of {total}", "--pages", "2-", "--position", "bottom-right"]


@pytest.fixture(scope="module")
def client():
    # A task whose worker dies is not run again, so that a killed worker
    # leaves failed files behind for the second run.
    with dask.config.set({"distributed.scheduler.allowed-failures": 0}), \
            distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                     dashboard_address=None) as cluster, distributed.Client(cluster) as c:
        yield c


def copies(folder, count):
    folder.mkdir()
    paths = []
    for k in range(count):
        name = SMALL[k % len(SMALL)]
        paths.append(folder / f"{k:03d}-{name}")
        shutil.copyfile(CORPUS / name, paths[-1])
    return paths


def pdfinfo_pages(path):
    info = subprocess.run(["pdfinfo", str(path)], capture_output=True, text=True, check=True).stdout
    return int(next(line.split()[1] for line in info.splitlines() if line.startswith("Pages:")))


def test_continued_run_survives_a_killed_worker_and_matches_the_tool(tmp_path, client):
    if not CLI or not shutil.which("pdfinfo"):
        pytest.skip("needs DEDEDIRUZURUD_CLI and pdfinfo")
    inputs = copies(tmp_path / "in", 200)
    out, manifest = tmp_path / "out", tmp_path / "manifest.csv"
    result = {}
    run = threading.Thread(target=lambda: result.update(
        first=number_files(inputs, out, client=client, continue_numbering=True, manifest=manifest, **LABELS)))
    run.start()
    while run.is_alive() and not (out.is_dir() and any(out.iterdir())):
        time.sleep(0.002)
    victim = next(iter(client.run(os.getpid).values()))
    os.kill(victim, signal.SIGKILL)
    run.join()
    assert {r["status"] for r in result["first"]} <= {"done", "failed"}
    lost = [r for r in result["first"] if r["status"] == "failed"]
    assert lost and all(r["message"].startswith("the cluster lost the task") for r in lost)
    assert [r["input"] for r in result["first"]] == [str(p) for p in inputs]

    second = number_files(inputs, out, client=client, continue_numbering=True, manifest=manifest, **LABELS)
    assert all(r["status"] == "done" for r in second)
    done_before = [r["status"] == "done" for r in result["first"]]
    assert [r["message"] == KEPT for r in second] == done_before

    tool_manifest = tmp_path / "tool.csv"
    subprocess.run([CLI, "--continue", *TOOL_LABELS, "--manifest", str(tool_manifest), "-o", str(tmp_path / "tool"),
                    *map(str, inputs)], check=True, stdout=subprocess.DEVNULL)
    for path in inputs:
        assert (out / path.name).read_bytes() == (tmp_path / "tool" / path.name).read_bytes(), path.name

    with open(manifest, newline="", encoding="utf-8") as f:
        rows = list(csv.DictReader(f))
    with open(tool_manifest, newline="", encoding="utf-8") as f:
        tool_rows = list(csv.reader(f))
    assert (tuple(rows[0]), tuple(tool_rows[0])) == (MANIFEST_COLUMNS, MANIFEST_COLUMNS[:5])
    columns = lambda i, o, *numbers: [i, os.path.basename(o), *numbers]  # noqa: E731 (output folders differ)
    assert [columns(*(row[c] for c in MANIFEST_COLUMNS[:5])) for row in rows] == [columns(*r) for r in tool_rows[1:]]
    # The numbers themselves, from another reader's page counts.
    pages = {name: pdfinfo_pages(CORPUS / name) for name in SMALL}
    total = sum(pages[path.name[4:]] for path in inputs)
    number = 1
    for path, row in zip(inputs, rows):
        count = pages[path.name[4:]]
        assert (row["pages"], row["first_number"]) == (str(count), str(number))
        last = number + count - 2
        assert (row["first"], row["last"]) == (f"ACME-{number:06} of {total}", f"ACME-{last:06} of {total}")
        number += count - 1


@pytest.mark.parametrize("continued", [False, True])
def test_an_unreadable_file(tmp_path, client, continued):
    inputs = copies(tmp_path / "in", 4)
    inputs[2].write_bytes(b"%PDF-1.4\nnot really\n")
    records = number_files(inputs, tmp_path / "out", client=client, continue_numbering=continued)
    assert records[2]["status"] == "failed" and records[2]["message"]
    others = [r for k, r in enumerate(records) if k != 2]
    written = sorted(p.name for p in (tmp_path / "out").iterdir())
    if continued:
        # As the tool: nothing is written, and every record says why.
        assert written == []
        assert all(r["status"] == "failed" and r["message"].startswith("nothing written") for r in others)
    else:
        assert all(r["status"] == "done" for r in others)
        assert written == sorted(p.name for k, p in enumerate(inputs) if k != 2)


def test_reruns_keep_only_current_outputs(tmp_path, client):
    inputs = copies(tmp_path / "in", 3)
    out, manifest = tmp_path / "out", tmp_path / "manifest.csv"
    kept = lambda records: [r["message"] == KEPT for r in records]  # noqa: E731
    assert kept(number_files(inputs, out, client=client, manifest=manifest, first=5)) == [False] * 3
    assert kept(number_files(inputs, out, client=client, manifest=manifest, first=5)) == [True] * 3
    assert kept(number_files(inputs, out, client=client, manifest=manifest, first=6)) == [False] * 3
    with open(inputs[1], "ab") as f:
        f.write(b"\n% changed\n")
    (out / inputs[2].name).unlink()
    assert kept(number_files(inputs, out, client=client, manifest=manifest, first=6)) == [True, False, False]

    twin = tmp_path / "twin"
    twin.mkdir()
    shutil.copyfile(inputs[0], twin / inputs[0].name)
    with pytest.raises(ValueError, match="two inputs would be written to"):
        number_files([inputs[0], twin / inputs[0].name], tmp_path / "none", client=client)
    with pytest.raises(ValueError, match="skip and pages"):
        number_files(inputs, tmp_path / "none", client=client, continue_numbering=True, skip=1, pages=(2, 3))
    assert not (tmp_path / "none").exists()
