"""Runs the contenders on the same inputs, alternating them round by round, and reports median
seconds per image, the ratios, peak memory, the growth with image size, and the quality of each
contender's picture: its PSNR against a Lanczos reference that ImageMagick makes from the same
source at the same size, all written losslessly (PNG).

Contenders:
  plugin   quintara-host.exe batch: many resizes in one host process, timed per action inside it
  limit    gdiplus_floor.exe --limit: the source loaded and decoded, a bitmap of the target's size
           saved, no scaling: the least any resize through GDI+ can cost, timed the same way
  jpeg limit  gdiplus_floor.exe --jpeg-limit (JPEG sources): the source decoded by libjpeg-turbo
           at the scale the plug-in chooses and a bitmap of the target's size saved, no scaling:
           the least a resize that shrinks while it decodes can cost
  floor    gdiplus_floor.exe: GDI+'s own single high-quality draw, timed the same way
  convert  ImageMagick's convert -resize WxH!, one process per image, timed from outside
  vips     vipsthumbnail --size WxH!, one process per image, timed from outside
  baseline (with --baseline BUILD) an earlier build's quintara-host.exe, as the plug-in

Also: the GIF a resize writes against Pillow's quantize(256) of the same canvas, and the cost
of reading back each written file.
"""
import argparse
import datetime
import math
import os
import platform
import re
import statistics
import subprocess
import tempfile
import time

CONVERT = "/usr/bin/convert-im6.q16"  # the real ImageMagick, whatever else is called convert
ENV = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="winedbg.exe=d")


def windows(path):
    return "Z:" + path.replace("/", "\\")


def make_image(path, width, height):
    """A deterministic photo-like picture with detail at every scale down to single pixels, as
    in a sharp photo: a seeded fractal plasma made at full size; past 48 megapixels, 4000 by 3000
    plasmas side by side (ImageMagick's memory is capped here)."""
    if os.path.exists(path):
        return
    if width * height > 48_000_000:
        from PIL import Image
        tile = os.path.join(os.path.dirname(path), "4000x3000-detail.png")
        make_image(tile, 4000, 3000)
        piece = Image.open(tile).convert("RGB")
        big = Image.new("RGB", (width, height))
        for y in range(0, height, 3000):
            for x in range(0, width, 4000):
                big.paste(piece, (x, y))
        big.save(path, **({"quality": 90} if path.endswith(".jpg") else {"compress_level": 6}))
        return
    quality = ["-quality", "90"] if path.endswith(".jpg") else []
    subprocess.run([CONVERT, "-seed", "7", "-size", f"{width}x{height}", "plasma:fractal",
                    *quality, path], check=True)


def psnr(picture, reference):
    """Peak signal-to-noise ratio in dB of one picture against another of the same size."""
    out = subprocess.run(["/usr/bin/compare-im6.q16", "-metric", "PSNR", picture, reference, "null:"],
                         capture_output=True, text=True).stderr.strip()
    return float("inf") if out.startswith("inf") else float(out.split()[0])


def quality(source, w, h, tmp, build, baseline):
    """Each contender's PSNR against the Lanczos reference, one PNG each."""
    reference = os.path.join(tmp, "reference.png")
    subprocess.run([CONVERT, source, "-filter", "Lanczos", "-resize", f"{w}x{h}!", reference],
                   check=True)
    out = {c: os.path.join(tmp, f"quality-{c}.png") for c in ["plugin", "floor", "convert", "vips"]}
    if baseline:
        out["baseline"] = os.path.join(tmp, "quality-baseline.png")
        in_process(os.path.join(baseline, "bin", "quintara-host.exe"), ["batch"],
                   [f"ae_resize {windows(source)}|{windows(out['baseline'])}|{w}|{h}"] * 2, tmp)
    in_process(os.path.join(build, "bin", "quintara-host.exe"), ["batch"],
               [f"ae_resize {windows(source)}|{windows(out['plugin'])}|{w}|{h}"] * 2, tmp)
    in_process(os.path.join(build, "bin", "gdiplus_floor.exe"), [],
               [f"{windows(source)}|{windows(out['floor'])}|{w}|{h}"] * 2, tmp)
    subprocess.run([CONVERT, source, "-resize", f"{w}x{h}!", out["convert"]], check=True)
    subprocess.run(["vipsthumbnail", source, "--size", f"{w}x{h}!", "-o", out["vips"]], check=True)
    return {c: psnr(path, reference) for c, path in out.items()}


def in_process(program, args, lines, folder, warm_up=True):
    """Runs one batch process; answers the per-line seconds (the warm-up line dropped, unless
    told there is none) and the peak memory it reported."""
    jobs = os.path.join(folder, "jobs.txt")
    with open(jobs, "w") as f:
        f.write("\n".join(lines) + "\n")
    out = subprocess.run(["wine", program, *args, windows(jobs)], capture_output=True, text=True,
                         env=ENV).stdout
    times = [float(m) for m in re.findall(r"\[([0-9.]+) ms\]", out)]
    failed = len(re.findall(r" -- failed", out))
    peak = re.search(r"peak memory ([0-9.]+) MB", out)
    if failed or len(times) != len(lines):
        raise SystemExit(f"{program}: {failed} failed, {len(times)} of {len(lines)} timed\n{out[-2000:]}")
    return [t / 1000 for t in times[1 if warm_up else 0:]], float(peak.group(1)) if peak else float("nan")


def processor_seconds(program, args, line, tmp, rounds):
    """Processor time (user and kernel, every thread) of one job: a batch of 11 less a batch of 1,
    over 10, each process's own count (GetProcessTimes), the median of the rounds."""
    per_job = []
    for _ in range(rounds):
        spent = []
        for count in (1, 11):
            with open(os.path.join(tmp, "cpu.txt"), "w") as f:
                f.write("\n".join(line.replace("{k}", str(k)) for k in range(count)) + "\n")
            out = subprocess.run(["wine", program, *args, windows(os.path.join(tmp, "cpu.txt"))],
                                 capture_output=True, text=True, env=ENV).stdout
            spent.append(float(re.search(r"processor ([0-9.]+) s", out).group(1)))
        per_job.append((spent[1] - spent[0]) / 10)
    return statistics.median(per_job)


def per_process(command_for, jobs):
    seconds = []
    for source, target, w, h in jobs:
        started = time.perf_counter()
        subprocess.run(command_for(source, target, w, h), check=True, capture_output=True)
        seconds.append(time.perf_counter() - started)
    return seconds


def run_work(name, source, w, h, extension, count, rounds, tmp, build, baseline, results):
    jobs = [(source, os.path.join(tmp, f"{name}-{k}.{extension}"), w, h) for k in range(count)]
    warm = [(source, os.path.join(tmp, f"{name}-warm.{extension}"), w, h)]
    plugin_lines = [f"ae_resize {windows(s)}|{windows(t)}|{a}|{b}" for s, t, a, b in warm + jobs]
    floor_lines = [f"{windows(s)}|{windows(t)}|{a}|{b}" for s, t, a, b in warm + jobs]
    floor = os.path.join(build, "bin", "gdiplus_floor.exe")
    in_process_contenders = [("plugin", os.path.join(build, "bin", "quintara-host.exe"), ["batch"], plugin_lines),
                             ("limit", floor, ["--limit"], floor_lines),
                             ("floor", floor, [], floor_lines)]
    if source.endswith(".jpg"):
        in_process_contenders.append(("jpeg limit", floor, ["--jpeg-limit"], floor_lines))
    if baseline:
        in_process_contenders.append(
            ("baseline", os.path.join(baseline, "bin", "quintara-host.exe"), ["batch"], plugin_lines))
    for _ in range(rounds):  # the contenders take turns, so drift hits all alike
        for contender, program, args, lines in in_process_contenders:
            t, peak = in_process(program, args, lines, tmp)
            results[name][contender] += t
            key = f"{contender} peak MB"
            results[name][key] = max(results[name].get(key, 0), peak)
            if contender == "plugin":  # the read-back: one load of each file the plug-in wrote
                t, _ = in_process(floor, ["--read"], floor_lines, tmp)
                results[name]["read-back"] += t
        results[name]["convert"] += per_process(
            lambda s, t, a, b: [CONVERT, s, "-resize", f"{a}x{b}!", t], jobs)
        results[name]["vips"] += per_process(
            lambda s, t, a, b: ["vipsthumbnail", s, "--size", f"{a}x{b}!", "-o", t], jobs)


def gif_quality(source, w, h, tmp, build):
    """The plug-in's GIF against its own un-quantised canvas (a PNG of the same resize), beside
    Pillow's quantize(256) of that canvas: PSNR in dB of each."""
    canvas, gif = os.path.join(tmp, "canvas.png"), os.path.join(tmp, "plugin.gif")
    pillow = os.path.join(tmp, "pillow.png")
    in_process(os.path.join(build, "bin", "quintara-host.exe"), ["batch"],
               [f"ae_resize {windows(source)}|{windows(canvas)}|{w}|{h}",
                f"ae_resize {windows(source)}|{windows(gif)}|{w}|{h}"], tmp)
    from PIL import Image
    Image.open(canvas).convert("RGB").quantize(256).convert("RGB").save(pillow)
    plugin_png = os.path.join(tmp, "plugin-gif.png")
    Image.open(gif).convert("RGB").save(plugin_png)
    return psnr(plugin_png, canvas), psnr(pillow, canvas)


def files_beside_gdiplus(inputs, tmp, build):
    """The bytes of the PNG and JPEG files the plug-in writes, beside GDI+'s encoders' files of the
    same pictures (gdiplus_floor.exe --encode saves the written file again through GDI+)."""
    host, floor = os.path.join(build, "bin", "quintara-host.exe"), os.path.join(build, "bin", "gdiplus_floor.exe")
    out = []
    for name, source, (w, h), ext in [("photo to PNG", "4000x3000-detail.jpg", (800, 600), "png"),
                                      ("photo to GIF", "4000x3000-detail.jpg", (800, 600), "gif"),
                                      ("photo", "4000x3000-detail.jpg", (800, 600), "jpg"),
                                      ("poster", "8000x6000-detail.jpg", (2000, 1500), "jpg"),
                                      ("enlarge 2x", "800x600-detail.jpg", (1600, 1200), "png"),
                                      ("small", "64x48-detail.png", (32, 24), "png")]:
        target = os.path.join(tmp, f"size.{ext}")
        in_process(host, ["batch"], [f"ae_resize {windows(os.path.join(inputs, source))}|{windows(target)}|{w}|{h}"] * 2, tmp)
        in_process(floor, ["--encode"], [f"x|{windows(target)}|{w}|{h}"] * 2, tmp)
        out.append((name, os.path.getsize(target), os.path.getsize(f"{target}.again.{ext}")))
    return out


def peak_of(command):
    """Seconds and peak memory (MB) of one whole process, from GNU time."""
    started = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%M", *command], capture_output=True, text=True, env=ENV)
    seconds = time.perf_counter() - started
    return seconds, int(done.stderr.strip().splitlines()[-1]) / 1024, done.stdout


def measure_alone(inputs, tmp, build, quick):
    """Metrics per call in one process; large conversions one per process, with peak memory."""
    host = os.path.join(build, "bin", "quintara-host.exe")
    metrics = []
    for name, size, ext in [("JPEG 4000x3000", (4000, 3000), "jpg"), ("JPEG 8000x6000", (8000, 6000), "jpg"),
                            ("PNG 4000x3000", (4000, 3000), "png")]:
        source = os.path.join(inputs, f"{size[0]}x{size[1]}-detail.{ext}")
        make_image(source, *size)
        t, peak = in_process(host, ["batch"], [f"AE_Image_Get_Metrics {windows(source)}"] * 21, tmp)
        metrics.append((name, statistics.median(t) * 1000, peak))
    memory = []
    jobs = [("PNG 11500x8625 to 800x600", (11500, 8625), "png", (800, 600), "png"),
            ("160x120 to JPEG 12000x12000", (160, 120), "jpg", (12000, 12000), "jpg")]
    if not quick:
        jobs.append(("PNG 20000x20000 to 800x800", (20000, 20000), "png", (800, 800), "png"))
    for name, (sw, sh), sext, (w, h), ext in jobs:
        source = os.path.join(inputs, f"{sw}x{sh}-detail.{sext}")
        make_image(source, sw, sh)
        target = os.path.join(tmp, f"alone.{ext}")
        try:
            t, peak = in_process(host, ["batch"], [f"ae_resize {windows(source)}|{windows(target)}|{w}|{h}"],
                                 tmp, warm_up=False)
            plugin = f"{t[0]:.2f} s"
        except SystemExit:
            plugin, peak = "failed", float("nan")
        vips_seconds, vips_peak, _ = peak_of(["vipsthumbnail", source, "--size", f"{w}x{h}!", "-o", target])
        memory.append((name, plugin, f"{peak:.0f} MB", f"{vips_seconds:.2f} s", f"{vips_peak:.0f} MB"))
    return metrics, memory


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--only", help="run only the work of this name (for looking into one figure)")
    parser.add_argument("--baseline", help="an earlier build folder whose quintara-host.exe runs beside")
    options = parser.parse_args()
    rounds = 2 if options.quick else 3
    os.makedirs(options.out, exist_ok=True)
    inputs = os.path.join(options.build, "bench-inputs")
    os.makedirs(inputs, exist_ok=True)
    contenders = ["plugin", "limit", "jpeg limit", "floor", "convert", "vips"] + (["baseline"] if options.baseline else [])
    pictured = ["plugin", "floor", "convert", "vips"] + (["baseline"] if options.baseline else [])

    few = 2 if options.quick else 3
    works = [  # name, source size and format, target size and format, images per round
        ("small", (64, 48), "png", (32, 24), "png", 60 if options.quick else 200),
        ("photo", (4000, 3000), "jpg", (800, 600), "jpg", 3 if options.quick else 5),
        ("photo to PNG", (4000, 3000), "jpg", (800, 600), "png", 3 if options.quick else 5),
        ("photo to GIF", (4000, 3000), "jpg", (800, 600), "gif", few),
        ("PNG photo", (4000, 3000), "png", (800, 600), "jpg", few),
        ("poster", (8000, 6000), "jpg", (2000, 1500), "jpg", few),
        ("photo 1.5x", (4000, 3000), "jpg", (2667, 2000), "jpg", few),
        ("enlarge 2x", (800, 600), "jpg", (1600, 1200), "png", few),
        ("enlarge 4x", (400, 300), "jpg", (1600, 1200), "png", few),
    ]
    series = [0.1, 1, 4, 12] if options.quick else [0.1, 0.5, 1, 2, 4, 8, 12, 16, 24, 32, 48]
    for mp in series:
        w = int(round(math.sqrt(mp * 1e6 * 4 / 3)))
        h = w * 3 // 4
        works.append((f"{mp} MP", (w, h), "jpg", (w // 4, h // 4), "jpg", few))

    if options.only:
        works = [w for w in works if w[0] == options.only]
        series = []
    results, gifs, processor = {}, {}, []
    with tempfile.TemporaryDirectory() as tmp:
        for name, (sw, sh), source_ext, (tw, th), extension, count in works:
            source = os.path.join(inputs, f"{sw}x{sh}-detail.{source_ext}")
            make_image(source, sw, sh)
            results[name] = {c: [] for c in contenders + ["read-back"]}
            print(f"{name}: {sw}x{sh} {source_ext} -> {tw}x{th} {extension}, {count} images x {rounds} rounds",
                  flush=True)
            run_work(name, source, tw, th, extension, count, rounds, tmp, options.build, options.baseline,
                     results)
            if name != "small":
                results[name]["dB"] = quality(source, tw, th, tmp, options.build, options.baseline)
            if name in ("photo", "photo to PNG", "PNG photo", "poster", "photo 1.5x"):
                job = f"{windows(source)}|{windows(os.path.join(tmp, 'cpu{k}.' + extension))}|{tw}|{th}"
                processor.append((name, processor_seconds(os.path.join(options.build, "bin", "quintara-host.exe"),
                                                          ["batch"], "ae_resize " + job, tmp, 5),
                                  processor_seconds(os.path.join(options.build, "bin", "gdiplus_floor.exe"),
                                                    ["--codecs"], job, tmp, 5)))
            if name in ("photo", "poster", "1 MP"):
                gifs[name] = gif_quality(source, tw, th, tmp, options.build)
                # The palette's and the GIF writer's cost: the plug-in to GIF less to BMP (no
                # encoding to speak of), beside GDI+'s GIF encoder over the same picture.
                for kind in ("gif", "bmp"):
                    lines = [f"{windows(source)}|{windows(os.path.join(tmp, f'cost{k}.{kind}'))}|{tw}|{th}"
                             for k in range(count + 1)]
                    t, _ = in_process(os.path.join(options.build, "bin", "quintara-host.exe"), ["batch"],
                                      ["ae_resize " + line for line in lines], tmp)
                    results[name][f"plugin {kind}"] = statistics.median(t)
                    if kind == "gif":
                        t, _ = in_process(os.path.join(options.build, "bin", "gdiplus_floor.exe"),
                                          ["--encode"], lines, tmp)
                        results[name]["gif encoder"] = statistics.median(t)
            for f in os.listdir(tmp):
                if f != "jobs.txt":
                    os.remove(os.path.join(tmp, f))

        sizes = files_beside_gdiplus(inputs, tmp, options.build) if not options.only else []
        metrics, memory = measure_alone(inputs, tmp, options.build, options.quick) if not options.only else ([], [])

    median = {n: {c: statistics.median(r[c]) if r[c] else float("nan") for c in contenders + ["read-back"]}
              for n, r in results.items()}
    machine = f"{platform.node() and 'Debian'} {platform.machine()}, {os.cpu_count()} cores, Wine " + \
        subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    date = datetime.date.today().isoformat()
    lines = [f"Measured {date} on {machine}; median seconds per image "
             f"({rounds} rounds, contenders alternating).", "",
             "Quality: PSNR in dB against ImageMagick's Lanczos reduction of the same source to the "
             "same size, every picture written as PNG (higher is closer; from about 40 dB the "
             "difference is hard to see).", "",
             "| work | plug-in | limit | JPEG limit | floor | convert | vipsthumbnail | plug-in/limit "
             "| plug-in/JPEG limit | plug-in/convert | plug-in/vipsthumbnail | "
             + " | ".join(f"dB {c}" for c in pictured) + " |",
             "|---|---|---|---|---|---|---|---|---|---|---|" + "---|" * len(pictured)]
    for name, m in median.items():
        d = results[name].get("dB")
        db = " | ".join(f"{d[c]:.1f}" for c in pictured) if d else " | ".join("-" for _ in pictured)
        lines.append(f"| {name} | {m['plugin']:.4f} | {m['limit']:.4f} | {m['jpeg limit']:.4f} | {m['floor']:.4f} "
                     f"| {m['convert']:.4f} | {m['vips']:.4f} | {m['plugin'] / m['limit']:.3f} "
                     f"| {m['plugin'] / m['jpeg limit']:.3f} | {m['plugin'] / m['convert']:.2f} "
                     f"| {m['plugin'] / m['vips']:.2f} | {db} |")
    lines += ["", "| work | peak memory, plug-in's process | limit's | JPEG limit's | floor's"
              + (" | baseline's" if options.baseline else "") + " |",
              "|---|---|---|---|---|" + ("---|" if options.baseline else "")]
    for name in [n for n in ["small", "photo", "poster", "48 MP"] if n in results]:
        r = results[name]
        lines.append(f"| {name} | {r['plugin peak MB']:.1f} MB | {r['limit peak MB']:.1f} MB | "
                     f"{r.get('jpeg limit peak MB', float('nan')):.1f} MB | {r['floor peak MB']:.1f} MB"
                     + (f" | {r['baseline peak MB']:.1f} MB" if options.baseline else "") + " |")
    lines += ["", "Reading back each written file (a load by GDI+ and its size asked):", "",
              "| work | read-back | share of the plug-in's time |", "|---|---|---|"]
    for name in [n for n in ["small", "photo", "poster", "48 MP"] if n in results]:
        m = median[name]
        lines.append(f"| {name} | {m['read-back'] * 1000:.1f} ms | {100 * m['read-back'] / m['plugin']:.1f} % |")
    if processor:
        lines += ["", "Processor time per conversion (user and kernel, both threads; a batch of 11 less a "
                  "batch of 1), beside the codecs' floor (gdiplus_floor.exe --codecs: the plug-in's "
                  "reader at the scale it uses and its writer of the target, nothing between):", "",
                  "| work | plug-in | codecs' floor | ratio |", "|---|---|---|---|"]
        lines += [f"| {n} | {a * 1000:.1f} ms | {b * 1000:.1f} ms | {a / b:.2f} |" for n, a, b in processor]
    if gifs:
        lines += ["", "GIF: PSNR in dB of the written GIF against the un-quantised picture of the same "
                  "resize, beside Pillow's quantize(256) of that picture; the palette's and the writer's "
                  "cost (the plug-in to GIF less to BMP) beside GDI+'s GIF encoder alone over the same "
                  "picture:",
                  "", "| work | dB plug-in GIF | dB Pillow quantize(256) | palette and writer | GDI+'s GIF encoder |",
                  "|---|---|---|---|---|"]
        for name, (ours, pillows) in gifs.items():
            r = results[name]
            palette = r['plugin gif'] - r['plugin bmp']
            lines.append(f"| {name} | {ours:.2f} | {pillows:.2f} | {palette * 1000:.1f} ms | "
                         f"{r['gif encoder'] * 1000:.1f} ms |")
    if metrics:
        lines += ["", "Metrics: in-process milliseconds per call (median) and the host's peak memory:", "",
                  "| file | ms per call | peak memory |", "|---|---|---|"]
        lines += [f"| {n} | {ms:.2f} | {mb:.1f} MB |" for n, ms, mb in metrics]
    if memory:
        lines += ["", "Large pictures, one conversion each in its own host process (the plug-in), beside "
                  "vipsthumbnail's whole process:", "",
                  "| work | plug-in | plug-in peak | vipsthumbnail | vipsthumbnail peak |", "|---|---|---|---|---|"]
        lines += [f"| {n} | {a} | {b} | {c} | {d} |" for n, a, b, c, d in memory]
    if sizes:
        lines += ["", "Files written: the plug-in's own writers beside GDI+'s encoders (through the "
                  "previous way, gdiplus_floor.exe --encode of the same picture):", "",
                  "| work | plug-in | GDI+ | plug-in/GDI+ |", "|---|---|---|---|"]
        lines += [f"| {n} | {a} B | {b} B | {a / b:.3f} |" for n, a, b in sizes]
    with open(os.path.join(options.out, "results.md"), "w") as f:
        f.write("\n".join(lines) + "\n")
    print("\n".join(lines))

    if options.only:
        return
    data = os.path.join(options.out, "series.dat")
    with open(data, "w") as f:
        f.write("# megapixels, seconds: plugin floor convert vips limit, dB: plugin floor convert vips\n")
        for mp in series:
            m, d = median[f"{mp} MP"], results[f"{mp} MP"]["dB"]
            f.write(f"{mp} {m['plugin']} {m['floor']} {m['convert']} {m['vips']} {m['limit']} "
                    f"{d['plugin']} {d['floor']} {d['convert']} {d['vips']}\n")
    plot = os.path.join(options.out, "seconds-per-megapixel.png")
    script = f"""
set terminal pngcairo size 800,800
set output '{plot}'
set multiplot layout 2,1
set title 'Resize to a quarter of each side: seconds per image ({date})'
set xlabel 'source megapixels'
set ylabel 'seconds per image'
set key left top
set grid
plot '{data}' using 1:2 with linespoints title 'plug-in (in the host)', \\
     '' using 1:6 with linespoints title 'limit (GDI+ load and save, no scaling)', \\
     '' using 1:3 with linespoints title 'GDI+ floor (single draw)', \\
     '' using 1:4 with linespoints title 'ImageMagick convert', \\
     '' using 1:5 with linespoints title 'vipsthumbnail'
set title 'Quality: PSNR against a Lanczos reduction (dB, higher is better)'
set ylabel 'dB'
set key right bottom
plot '{data}' using 1:7 with linespoints title 'plug-in', \\
     '' using 1:8 with linespoints title 'GDI+ floor (single draw)', \\
     '' using 1:9 with linespoints title 'ImageMagick convert', \\
     '' using 1:10 with linespoints title 'vipsthumbnail'
unset multiplot
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)
    print(f"wrote {options.out}/results.md and {plot}")


if __name__ == "__main__":
    main()
