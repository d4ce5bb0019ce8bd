#!/usr/bin/python3
"""Charts and figures of traced Towers (gorvane --trace), for scripts/report.

    report_charts.py OUT_DIR TRACE.json...

Each trace holds one or more Towers; every figure comes from the trace's slices: the Tower's
slice on the main track, the blocks, lock waits, GPU passes with their stages and the CPU stages
on the worker tracks, the GPU's own stage times on the gpu track, and the frames after the Tower.
Writes OUT_DIR/index.html with its PNG charts and OUT_DIR/report.json.
"""
import html
import json
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

MODE_NAMES = ["cpu + density map on gpu", "gpu", "gpu + weld on cpu"]
PASS_STAGES = ["density", "cells", "pyramid", "vertices", "read-back"]
CPU_STAGES = ["cpu meshing", "mesh", "weld", "publish"]
WORKERS = ["worker 0", "worker 1"]
COLOURS = {
    "density": "#1f77b4", "cells": "#4c9be8", "pyramid": "#17becf", "vertices": "#2ca02c",
    "read-back": "#9467bd", "other pass": "#c5b0d5", "lock wait": "#d62728",
    "cpu meshing": "#ff7f0e", "mesh": "#ffbb78", "weld": "#8c564b", "publish": "#e377c2",
    "other cpu": "#f7b6d2", "idle": "#dddddd",
}


def load_towers(path):
    """The Towers of one trace: per Tower its slices by track, clipped to the Tower."""
    with open(path) as f:
        document = json.load(f)
    names = {}
    for event in document["traceEvents"]:
        if event["ph"] == "M" and event["name"] == "thread_name":
            names[event["tid"]] = event["args"]["name"]
    tracks = {}
    for event in document["traceEvents"]:
        if event["ph"] == "X":
            track = names.get(event["tid"], str(event["tid"]))
            tracks.setdefault(track, []).append(event)
    meta = document.get("otherData", {})
    mains = sorted(tracks.get("main", []), key=lambda e: e["ts"])
    towers = []
    for tower in (e for e in mains if e["name"] == "tower"):
        begin, end = tower["ts"], tower["ts"] + tower["dur"]

        def inside(track):
            return [e for e in tracks.get(track, []) if begin <= e["ts"] < end]

        following = [e for e in mains if e["name"] == "frame" and e["ts"] >= end]
        later_towers = [e["ts"] for e in mains if e["name"] == "tower" and e["ts"] > begin]
        if later_towers:
            following = [e for e in following if e["ts"] < later_towers[0]]
        towers.append({
            "mode": tower["args"]["mode"], "begin": begin, "end": end,
            "workers": {w: inside(w) for w in WORKERS}, "gpu": inside("gpu"),
            "frames": following, "meta": meta,
        })
    return towers


def seconds(events, name):
    return sum(e["dur"] for e in events if e["name"] == name) * 1e-6


def figures(tower):
    duration = (tower["end"] - tower["begin"]) * 1e-6
    slices = [e for w in WORKERS for e in tower["workers"][w]]
    blocks = [e for e in slices if e["name"] == "block"]
    floor = seconds(slices, "gpu pass")
    frames = tower["frames"]
    frame_rate = 0.0
    if len(frames) > 1:
        span = (frames[-1]["ts"] + frames[-1]["dur"] - frames[0]["ts"]) * 1e-6
        frame_rate = len(frames) / span if span > 0 else 0.0
    return {
        "mode": tower["mode"],
        "mode name": MODE_NAMES[tower["mode"]],
        "tower s": duration,
        "gpu floor s": floor,
        "tower / floor": duration / floor if floor > 0 else 0.0,
        "blocks": len(blocks),
        "blocks per s": len(blocks) / duration if duration > 0 else 0.0,
        "triangles": sum(e["args"]["triangles"] for e in blocks),
        "vertices": sum(e["args"]["vertices"] for e in blocks),
        "lock wait s": seconds(slices, "lock wait"),
        "gpu busy s": sum(e["dur"] for e in tower["gpu"]) * 1e-6,
        "frame rate": frame_rate,
    }


def time_shares(tower):
    """Worker-seconds of the Tower by what the workers did (both workers: twice its length)."""
    slices = [e for w in WORKERS for e in tower["workers"][w]]
    duration = (tower["end"] - tower["begin"]) * 1e-6
    shares = {}
    for stage in PASS_STAGES:
        shares[stage] = seconds(slices, stage)
    shares["other pass"] = seconds(slices, "gpu pass") - sum(shares[s] for s in PASS_STAGES)
    shares["lock wait"] = seconds(slices, "lock wait")
    for stage in CPU_STAGES:
        shares[stage] = seconds(slices, stage)
    in_blocks = seconds(slices, "block")
    shares["other cpu"] = (in_blocks - seconds(slices, "gpu pass") - shares["lock wait"]
                           - sum(shares[s] for s in CPU_STAGES))
    shares["idle"] = len(WORKERS) * duration - in_blocks
    return {k: max(v, 0.0) for k, v in shares.items()}


def stacked_bars(towers, path):
    fig, ax = plt.subplots(figsize=(9, 3.2 + 0.4 * len(towers)))
    labels = [f"mode {t['mode']}: {MODE_NAMES[t['mode']]}" for t in towers]
    lefts = [0.0] * len(towers)
    for category in list(COLOURS):
        widths = [time_shares(t)[category] for t in towers]
        if not any(w > 0.0005 for w in widths):
            continue
        ax.barh(labels, widths, left=lefts, color=COLOURS[category], label=category)
        lefts = [a + b for a, b in zip(lefts, widths)]
    ax.invert_yaxis()
    ax.set_xlabel("worker-seconds (both workers; the bar is twice the Tower's time)")
    ax.set_title("Where each Tower's time went")
    ax.legend(ncol=5, fontsize=8, loc="upper center", bbox_to_anchor=(0.5, -0.25))
    fig.tight_layout()
    fig.savefig(path, dpi=80)
    plt.close(fig)


def lanes(ax, tower, window):
    """Lanes worker 0, worker 1, gpu: the leaf stages over time (seconds from the Tower's start)."""
    leaf = set(PASS_STAGES) | set(CPU_STAGES) | {"lock wait"}
    rows = [("worker 0", tower["workers"]["worker 0"]), ("worker 1", tower["workers"]["worker 1"]),
            ("gpu", tower["gpu"])]
    begin, end = window
    for row, (name, events) in enumerate(rows):
        by_stage = {}
        for e in events:
            start = (e["ts"] - tower["begin"]) * 1e-6
            length = e["dur"] * 1e-6
            if e["name"] not in leaf or start + length < begin or start > end:
                continue
            by_stage.setdefault(e["name"], []).append((start, length))
        for stage, spans in by_stage.items():
            ax.broken_barh(spans, (row - 0.4, 0.8), color=COLOURS[stage], label=stage)
    ax.set_yticks(range(len(rows)), [r[0] for r in rows])
    ax.set_ylim(len(rows) - 0.5, -0.5)
    ax.set_xlim(begin, end)
    ax.set_xlabel("seconds since the Tower began")


def timeline(tower, path):
    duration = (tower["end"] - tower["begin"]) * 1e-6
    zoom_begin = duration * 0.5
    fig, (whole, zoom) = plt.subplots(2, 1, figsize=(11, 4.6))
    lanes(whole, tower, (0, duration))
    whole.set_title(f"mode {tower['mode']} ({MODE_NAMES[tower['mode']]}): the whole Tower")
    lanes(zoom, tower, (zoom_begin, zoom_begin + min(0.3, duration / 4)))
    zoom.set_title("300 ms from its middle: who holds the lock, what overlaps")
    handles, labels = zoom.get_legend_handles_labels()
    unique = dict(zip(labels, handles))
    handles0, labels0 = whole.get_legend_handles_labels()
    for label, handle in zip(labels0, handles0):
        unique.setdefault(label, handle)
    order = [s for s in COLOURS if s in unique]
    fig.legend([unique[s] for s in order], order, ncol=len(order), fontsize=8, loc="lower center")
    fig.tight_layout(rect=(0, 0.07, 1, 1))
    fig.savefig(path, dpi=80)
    plt.close(fig)


def block_times(tower):
    passes, cpu = [], []
    for w in WORKERS:
        events = sorted(tower["workers"][w], key=lambda e: e["ts"])
        for block in (e for e in events if e["name"] == "block"):
            end = block["ts"] + block["dur"]
            children = [e for e in events if block["ts"] <= e["ts"] < end and e is not block]
            gpu_pass = seconds(children, "gpu pass")
            passes.append(gpu_pass * 1e3)
            cpu.append((block["dur"] * 1e-6 - gpu_pass - seconds(children, "lock wait")) * 1e3)
    return passes, cpu


def histograms(towers, path):
    fig, axes = plt.subplots(1, len(towers), figsize=(4 * len(towers), 3.2), squeeze=False)
    for ax, tower in zip(axes[0], towers):
        passes, cpu = block_times(tower)
        top = max(passes + cpu + [1.0])
        bins = [top * i / 40 for i in range(41)]
        ax.hist(passes, bins=bins, alpha=0.7, color=COLOURS["density"], label="gpu pass")
        ax.hist(cpu, bins=bins, alpha=0.7, color=COLOURS["cpu meshing"], label="cpu work")
        ax.set_title(f"mode {tower['mode']}: per block", fontsize=10)
        ax.set_xlabel("ms")
        ax.set_ylabel("blocks")
        ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=80)
    plt.close(fig)


def page(towers, table, meta):
    columns = [("mode", "mode"), ("mode name", "calculation mode"), ("tower s", "Tower s"),
               ("gpu floor s", "GPU passes s (floor)"), ("tower / floor", "Tower / floor"),
               ("blocks per s", "blocks / s"), ("triangles", "triangles"),
               ("lock wait s", "lock waits s"), ("gpu busy s", "GPU busy s"),
               ("frame rate", "frames / s after")]

    def cell(value):
        return f"{value:.3f}" if isinstance(value, float) else html.escape(str(value))

    rows = "".join("<tr>" + "".join(f"<td>{cell(f[key])}</td>" for key, _ in columns) + "</tr>"
                   for f in table)
    head = "".join(f"<th>{html.escape(title)}</th>" for _, title in columns)
    timelines = "".join(f'<h3>Mode {t["mode"]}: {html.escape(MODE_NAMES[t["mode"]])}</h3>'
                        f'<img src="timeline{t["mode"]}.png" alt="timeline of mode {t["mode"]}">'
                        for t in towers)
    machine = html.escape(f"{meta.get('cpu', '?')}, {meta.get('cores', '?')} cores")
    return f"""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Gorvane: where a Tower's time goes</title>
<style>
body {{ font-family: sans-serif; margin: 2em; max-width: 1000px; }}
table {{ border-collapse: collapse; }} td, th {{ border: 1px solid #bbb; padding: 4px 8px; }}
td {{ text-align: right; }} img {{ max-width: 100%; }}
</style></head><body>
<h1>Where a Tower's time goes</h1>
<p>Renderer: <b>{html.escape(meta.get('renderer', '?'))}</b>; machine: <b>{machine}</b>;
back buffer {html.escape(meta.get('back buffer', '?'))}. Every figure comes from the traces
(<code>gorvane --trace</code>); the floor is the sum of both workers' GPU passes.</p>
<table><tr>{head}</tr>{rows}</table>
<h2>Where the time went</h2>
<p>Both workers' time over each Tower: the GPU pass's stages as the worker saw them (submission
and the waits of its read-backs), its lock waits, its CPU stages, and idle time (a worker that
has finished its share while the other goes on).</p>
<img src="stages.png" alt="stacked bars per mode">
<h2>Timelines</h2>
<p>Worker 0, worker 1 and what the GPU itself executed (from GPU timestamps).</p>
{timelines}
<h2>Per-block times</h2>
<img src="histograms.png" alt="histograms of per-block times">
</body></html>
"""


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: report_charts.py OUT_DIR TRACE.json...")
    out = sys.argv[1]
    towers = []
    for path in sys.argv[2:]:
        towers += load_towers(path)
    if not towers:
        sys.exit("report_charts.py: the traces hold no Tower")
    towers.sort(key=lambda t: t["mode"])
    table = [figures(t) for t in towers]
    meta = towers[0]["meta"]
    os.makedirs(out, exist_ok=True)
    stacked_bars(towers, os.path.join(out, "stages.png"))
    for tower in towers:
        timeline(tower, os.path.join(out, f"timeline{tower['mode']}.png"))
    histograms(towers, os.path.join(out, "histograms.png"))
    for f, t in zip(table, towers):
        f["time shares s"] = time_shares(t)
    report = {"renderer": meta.get("renderer"), "cpu": meta.get("cpu"),
              "cores": meta.get("cores"), "back buffer": meta.get("back buffer"),
              "towers": table}
    with open(os.path.join(out, "report.json"), "w") as f:
        json.dump(report, f, indent=2)
    with open(os.path.join(out, "index.html"), "w") as f:
        f.write(page(towers, table, meta))


if __name__ == "__main__":
    main()
