#!/usr/bin/env python3
"""Conformance report: decodes the streams of tests/data that the manifest
marks "decode" with the sonadec tool, compares each with its reference
decode and writes an HTML page with the per-stream table (maximum and RMS
difference after alignment, lag, level differences) and PNG plots of the
error signal and of the spectra of decoded and reference PCM.

    python3 tools/conformance_report.py [--cli build/default/bin/sonadec]
        [--data tests/data] [--out build/conformance-report] [--media-object]

Needs numpy and matplotlib (Debian: python3-numpy python3-matplotlib).
"""
import argparse
import html
import json
import os
import subprocess
import sys
import tempfile

try:
    import numpy as np
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    # Debian's packages live under the system interpreter; a python3 of its
    # own (pyenv, venv) may not see them.
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    sys.exit("conformance_report: needs numpy and matplotlib (apt-get install python3-numpy python3-matplotlib)")

MAX_LAG = 4096
OCTAVE_EDGES = [125, 250, 500, 1000, 2000, 4000, 8000, 16000]


def read_wav(path):
    """16-bit PCM WAV, plain or extensible; a data size of 0xFFFFFFFF
    (streamed) runs to the end of the file."""
    with open(path, "rb") as f:
        b = f.read()
    if b[:4] != b"RIFF" or b[8:12] != b"WAVE":
        raise ValueError(f"{path}: not a WAV file")
    at, ch, rate = 12, None, None
    while at + 8 <= len(b):
        kind, size = b[at:at + 4], int.from_bytes(b[at + 4:at + 8], "little")
        body = b[at + 8:at + 8 + size]
        if kind == b"fmt ":
            tag = int.from_bytes(body[0:2], "little")
            ch = int.from_bytes(body[2:4], "little")
            rate = int.from_bytes(body[4:8], "little")
            if tag not in (1, 0xFFFE) or int.from_bytes(body[14:16], "little") != 16:
                raise ValueError(f"{path}: not 16-bit PCM")
        elif kind == b"data" and ch:
            body = body[: len(body) // (2 * ch) * 2 * ch]
            return np.frombuffer(body, dtype="<i2").astype(np.int64).reshape(-1, ch), rate
        at += 8 + size + (size & 1)
    raise ValueError(f"{path}: no data")


def best_lag(got, ref):
    """Lag of `got` against `ref` (samples) with the highest correlation,
    lag 0 unless another is strictly better."""
    a = got[:, 0].astype(np.float64)
    b = ref[:, 0].astype(np.float64)
    if not a.any() or not b.any():
        return 0
    n = 1 << int(np.ceil(np.log2(len(a) + len(b))))
    corr = np.fft.irfft(np.fft.rfft(a, n) * np.conj(np.fft.rfft(b, n)), n)
    lags = np.concatenate([np.arange(0, MAX_LAG + 1), np.arange(-MAX_LAG, 0)])
    values = np.concatenate([corr[: MAX_LAG + 1], corr[-MAX_LAG:]])
    best = int(lags[np.argmax(values)])
    return best if values[np.argmax(values)] > corr[0] * (1 + 1e-9) else 0


def align(got, ref, lag):
    if lag >= 0:
        got = got[lag:]
    else:
        ref = ref[-lag:]
    n = min(len(got), len(ref))
    return got[:n], ref[:n]


def level_db(x):
    r = np.sqrt(np.mean(np.square(x.astype(np.float64)))) if len(x) else 0.0
    return 20 * np.log10(max(r, 1e-9) / 32768.0)


def spectrum(x, rate, size=2048):
    x = x.astype(np.float64) / 32768.0
    if len(x) < size:
        x = np.pad(x, (0, size - len(x)))
    win = np.hanning(size)
    frames = [x[i:i + size] * win for i in range(0, len(x) - size + 1, size // 2)]
    power = np.mean([np.abs(np.fft.rfft(f)) ** 2 for f in frames], axis=0)
    freqs = np.fft.rfftfreq(size, 1.0 / rate)
    return freqs, 10 * np.log10(np.maximum(power / (np.sum(win) ** 2 / 4), 1e-14))


def band_level_diffs(got, ref, rate):
    """Largest level difference (dB) over octave bands where the reference
    carries energy (above -80 dBFS), first channel."""
    f, g = spectrum(got[:, 0], rate)
    _, r = spectrum(ref[:, 0], rate)
    worst = 0.0
    for lo, hi in zip(OCTAVE_EDGES, OCTAVE_EDGES[1:]):
        if hi > rate / 2:
            break
        sel = (f >= lo) & (f < hi)
        rp = np.sum(10 ** (r[sel] / 10))
        gp = np.sum(10 ** (g[sel] / 10))
        if 10 * np.log10(rp) < -80:
            continue
        d = 10 * np.log10(max(gp, 1e-14) / rp)
        if abs(d) > abs(worst):
            worst = d
    return worst


def plot(name, got, ref, rate, out_dir):
    err = got[:, 0] - ref[:, 0]
    t = np.arange(len(err)) / rate
    fig, ax = plt.subplots(figsize=(8, 2.6))
    ax.plot(t, err, linewidth=0.5, color="tab:red")
    ax.set_xlabel("s")
    ax.set_ylabel("LSB")
    ax.set_title(f"{name}: decoded - reference (channel 1)")
    fig.tight_layout()
    err_png = f"{name}.error.png"
    fig.savefig(os.path.join(out_dir, err_png), dpi=80)
    plt.close(fig)

    fig, ax = plt.subplots(figsize=(8, 2.6))
    f, g = spectrum(got[:, 0], rate)
    _, r = spectrum(ref[:, 0], rate)
    ax.plot(f, r, linewidth=0.8, label="reference")
    ax.plot(f, g, linewidth=0.6, label="decoded")
    ax.set_xlabel("Hz")
    ax.set_ylabel("dBFS")
    ax.set_ylim(bottom=max(-140, min(r.min(), g.min())))
    ax.legend(loc="upper right")
    ax.set_title(f"{name}: spectra (channel 1)")
    fig.tight_layout()
    spec_png = f"{name}.spectra.png"
    fig.savefig(os.path.join(out_dir, spec_png), dpi=80)
    plt.close(fig)
    return err_png, spec_png


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--cli", default=os.path.join(root, "build/default/bin/sonadec"))
    p.add_argument("--data", default=os.path.join(root, "tests/data"))
    p.add_argument("--out", default=os.path.join(root, "build/conformance-report"))
    p.add_argument("--media-object", action="store_true",
                   help="decode through the registered media object (default: the decoder API)")
    args = p.parse_args()
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.data, "manifest.json")) as f:
        streams = [s for s in json.load(f)["streams"] if s.get("action") == "decode"]

    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        for s in streams:
            out = os.path.join(tmp, "out.wav")
            cmd = [args.cli, "decode", os.path.join(args.data, s["file"]), "-o", out, "--quiet"]
            if not args.media_object:
                cmd.append("--api")
            run = subprocess.run(cmd, capture_output=True, text=True)
            refs = [s["reference"]]
            lp = s["reference"].replace(".ref.wav", ".ref_lp.wav")
            if lp != s["reference"] and os.path.exists(os.path.join(args.data, lp)):
                refs.append(lp)
            for ref_name in refs:
                row = {"stream": s["file"], "reference": ref_name, "profile": s.get("profile", ""),
                       "note": "", "plots": None}
                rows.append(row)
                if run.returncode != 0:
                    row["note"] = "not decoded: " + run.stderr.strip()
                    continue
                got, rate = read_wav(out)
                ref, ref_rate = read_wav(os.path.join(args.data, ref_name))
                if rate != ref_rate:
                    row["note"] = f"output rate {rate} Hz, reference {ref_rate} Hz: not compared"
                    continue
                ch = min(got.shape[1], ref.shape[1])
                if got.shape[1] != ref.shape[1]:
                    row["note"] = f"{got.shape[1]} channel(s) against {ref.shape[1]}: first {ch} compared"
                lag = best_lag(got, ref)
                g, r = align(got[:, :ch], ref[:, :ch], lag)
                diff = g - r
                row.update(
                    samples=len(g), lag=lag,
                    max=int(np.max(np.abs(diff))) if len(diff) else 0,
                    rms=float(np.sqrt(np.mean(np.square(diff.astype(np.float64))))) if len(diff) else 0.0,
                    level=[level_db(g[:, c]) - level_db(r[:, c]) for c in range(ch)],
                    band=band_level_diffs(g, r, rate))
                tag = ref_name.replace(".wav", "")
                row["plots"] = plot(tag, g, r, rate, args.out)
                print(f"{s['file']:40s} {ref_name:32s} lag {lag:5d} max {row['max']:6d} rms {row['rms']:9.2f}")

    page = [
        "<!doctype html><html><head><meta charset='utf-8'><title>Sonadec conformance report</title>",
        "<style>body{font-family:sans-serif}table{border-collapse:collapse}td,th{border:1px solid #bbb;"
        "padding:2px 6px;text-align:right}td.l{text-align:left}</style></head><body>",
        "<h1>Sonadec conformance report</h1>",
        f"<p>{len(streams)} streams of {html.escape(args.data)} decoded through "
        f"{'the media object' if args.media_object else 'the decoder API'} by {html.escape(args.cli)}. "
        "Differences in LSB of 16-bit PCM after aligning by the lag of best correlation "
        "(positive: decoded output late); level differences in dB, decoded minus reference, per channel "
        "and the largest over octave bands 125 Hz - 16 kHz.</p>",
        "<table><tr><th>stream</th><th>reference</th><th>profile</th><th>lag</th><th>max diff</th>"
        "<th>RMS diff</th><th>level diff (dB)</th><th>worst band (dB)</th><th>plots</th><th>note</th></tr>",
    ]
    for row in rows:
        cells = [f"<td class=l>{html.escape(row['stream'])}</td>", f"<td class=l>{html.escape(row['reference'])}</td>",
                 f"<td class=l>{html.escape(row['profile'])}</td>"]
        if "lag" in row:
            cells += [f"<td>{row['lag']}</td>", f"<td>{row['max']}</td>", f"<td>{row['rms']:.2f}</td>",
                      "<td>" + " / ".join(f"{d:+.2f}" for d in row["level"]) + "</td>", f"<td>{row['band']:+.2f}</td>"]
        else:
            cells += ["<td></td>"] * 5
        if row["plots"]:
            e, sp = row["plots"]
            cells.append(f"<td class=l><a href='{e}'>error</a> <a href='{sp}'>spectra</a></td>")
        else:
            cells.append("<td></td>")
        cells.append(f"<td class=l>{html.escape(row['note'])}</td>")
        page.append("<tr>" + "".join(cells) + "</tr>")
    page.append("</table><h2>Plots</h2>")
    for row in rows:
        if row["plots"]:
            page.append(f"<h3>{html.escape(row['stream'])} against {html.escape(row['reference'])}</h3>")
            page += [f"<img src='{png}' alt='{png}'><br>" for png in row["plots"]]
    page.append("</body></html>")
    index = os.path.join(args.out, "index.html")
    with open(index, "w") as f:
        f.write("\n".join(page))
    print(f"wrote {index}")


if __name__ == "__main__":
    main()
