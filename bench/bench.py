"""The plug-in beside the tools a script author would call instead, work by work, every contender
on the same inputs, the contenders taking turns round by round. For each work: median wall
seconds per image, mean processor seconds per image (every thread), peak memory of the process,
and the quality of each picture (PSNR against ImageMagick's Lanczos reduction of the same source
to the same size, written as PNG).

Contenders:
  plugin   quintara-host.exe batch: many resizes in one host process, each timed inside it
  vips     vipsthumbnail --size WxH!, one whole process per image
  Pillow   Image.open, draft for a JPEG, resize with Lanczos, save: one process per image, as a
           Pillow user would write it
  convert  ImageMagick's convert -resize WxH!, one process per image
  codecs   gdiplus_floor.exe --codecs: the plug-in's reader at the scale it uses and its writer,
           nothing between: what the resize itself adds is the rest
  GDI+     gdiplus_floor.exe: GDI+'s own single high-quality draw, the way the plug-in replaced
           (sources GDI+ reads)

Writes results.md and three charts (into --charts, docs/ from bench/run.sh): formats.png (each
source format beside the peers), seconds-per-megapixel.png and memory-per-megapixel.png.
"""
import argparse
import datetime
import math
import os
import platform
import re
import shutil
import statistics
import subprocess
import tempfile
import time

CONVERT = "/usr/bin/convert-im6.q16"  # the real ImageMagick, whatever else is called convert
PYTHON = "/usr/bin/python3"          # Debian's, which has Pillow
ENV = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="winedbg.exe=d")
PILLOW = """
import sys
from PIL import Image
source, target, w, h = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
image = Image.open(source)
if image.format == "JPEG":
    image.draft("RGB", (w, h))
image = image.convert("RGBA" if "A" in image.getbands() and not target.endswith(".jpg") else "RGB")
image.resize((w, h), Image.LANCZOS).save(target, **({"quality": 75} if target.endswith(".jpg") else {}))
"""
GDIPLUS_READS = (".jpg", ".png", ".gif", ".bmp", ".tif")


def windows(path):
    return "Z:" + path.replace("/", "\\")


def make_image(path, width, height):
    """A deterministic photo-like picture with detail at every scale down to single pixels, as in
    a sharp photo: a seeded fractal plasma made at full size (past 48 megapixels, 4000 by 3000
    plasmas side by side: ImageMagick's memory is capped here), as a JPEG, an 8-bit or a 16-bit
    PNG; the other formats made from the 8-bit PNG: GIF (256 colours), 24-bit BMP, LZW TIFF, WebP
    (Pillow, quality 85), AVIF (avifenc, speed 8; "-grid.avif" in 4 by 3 tiles, as a camera writes
    a picture past AV1's largest frame)."""
    if os.path.exists(path):
        return
    base, ext = os.path.splitext(path)
    if not path.endswith(("-detail.jpg", "-detail.png", "-16bit.png")):
        plain = base.rsplit("-", 1)[0] + "-detail.png"
        make_image(plain, width, height)
        if ext == ".webp":
            from PIL import Image
            Image.open(plain).save(path, quality=85)
        elif ext == ".avif":
            grid = ["-g", "4x3"] if path.endswith("-grid.avif") else []
            subprocess.run(["avifenc", "-s", "8", "-j", "2", *grid, plain, path], check=True, capture_output=True)
        elif ext == ".bmp":
            subprocess.run([CONVERT, plain, "BMP3:" + path], check=True)
        elif ext == ".tif":
            subprocess.run([CONVERT, plain, "-compress", "LZW", path], check=True)
        else:
            subprocess.run([CONVERT, plain, path], check=True)
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
    quality = ["-quality", "90"] if path.endswith(".jpg") else ["-depth", "16" if path.endswith("-16bit.png") else "8"]
    subprocess.run([CONVERT, "-seed", "7", "-size", f"{width}x{height}", "plasma:fractal", *quality, path],
                   check=True)


def psnr(picture, reference):
    """Peak signal-to-noise ratio in dB of one picture against another of the same size."""
    out = subprocess.run(["/usr/bin/compare-im6.q16", "-metric", "PSNR", picture, reference, "null:"],
                         capture_output=True, text=True).stderr.strip()
    return float("inf") if out.startswith("inf") else float(out.split()[0])


def in_process(program, args, lines, folder, warm_up=True):
    """Runs one batch process; answers the per-line seconds (the warm-up line dropped, unless told
    there is none), the per-line processor seconds where the program reports them, and the peak
    memory it reported."""
    jobs = os.path.join(folder, "jobs.txt")
    with open(jobs, "w") as f:
        f.write("\n".join(lines) + "\n")
    out = subprocess.run(["wine", program, *args, windows(jobs)], capture_output=True, text=True, env=ENV).stdout
    timed = re.findall(r"\[([0-9.]+) ms(?:, processor ([0-9.]+) ms)?\]", out)
    failed = len(re.findall(r" -- failed", out))
    peak = re.search(r"peak memory ([0-9.]+) MB", out)
    if failed or len(timed) != len(lines):
        raise SystemExit(f"{program}: {failed} failed, {len(timed)} of {len(lines)} timed\n{out[-2000:]}")
    timed = timed[1 if warm_up else 0:]
    processor = [float(p) / 1000 for _, p in timed if p]
    return [float(t) / 1000 for t, _ in timed], processor, float(peak.group(1)) if peak else float("nan")


class Unreadable(Exception):
    """A contender that does not read the source's format (Pillow 9 and ImageMagick 6 read no AVIF)."""


def whole_process(command):
    """Wall seconds, processor seconds (user and system, every thread) and peak memory (MB) of
    one whole process, from GNU time."""
    started = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", *command], capture_output=True, text=True, env=ENV)
    seconds = time.perf_counter() - started
    if done.returncode != 0:
        raise Unreadable(f"{command[0]} failed: {done.stderr[-300:]}")
    peak, user, system = done.stderr.strip().splitlines()[-1].split()
    return seconds, float(user) + float(system), int(peak) / 1024


PER_PROCESS = {
    "vips": lambda s, t, w, h: ["vipsthumbnail", s, "--size", f"{w}x{h}!", "-o", t],
    "Pillow": lambda s, t, w, h: [PYTHON, "-c", PILLOW, s, t, str(w), str(h)],
    "convert": lambda s, t, w, h: [CONVERT, s, "-resize", f"{w}x{h}!", t],
}
CONTENDERS = ["plugin", "vips", "Pillow", "convert", "codecs", "GDI+"]


def run_work(source, w, h, extension, count, rounds, tmp, build, result):
    """Every contender on `count` images, `rounds` times, taking turns."""
    jobs = [(source, os.path.join(tmp, f"out-{k}.{extension}"), w, h) for k in range(count + 1)]
    host, floor = os.path.join(build, "bin", "quintara-host.exe"), os.path.join(build, "bin", "gdiplus_floor.exe")
    in_process_contenders = [("plugin", host, ["batch"], [f"ae_resize {windows(s)}|{windows(t)}|{a}|{b}" for s, t, a, b in jobs]),
                             ("codecs", floor, ["--codecs"], [f"{windows(s)}|{windows(t)}|{a}|{b}" for s, t, a, b in jobs])]
    if source.endswith(GDIPLUS_READS):
        in_process_contenders.append(("GDI+", floor, [], [f"{windows(s)}|{windows(t)}|{a}|{b}" for s, t, a, b in jobs]))
    for _ in range(rounds):
        for name, program, args, lines in in_process_contenders:
            seconds, processor, peak = in_process(program, args, lines, tmp)
            result[name] += seconds
            result.setdefault(name + " cpu", []).extend(processor)
            result[name + " MB"] = max(result.get(name + " MB", 0), peak)
        for name, command in PER_PROCESS.items():
            try:
                for s, t, a, b in jobs[1:]:
                    seconds, processor, peak = whole_process(command(s, t, a, b))
                    result[name].append(seconds)
                    result.setdefault(name + " cpu", []).append(processor)
                    result[name + " MB"] = max(result.get(name + " MB", 0), peak)
            except Unreadable:
                result[name] = []
                result[name + " cpu"] = []
                result[name + " MB"] = float("nan")


def quality(source, w, h, tmp, build):
    """Each contender's PSNR against ImageMagick's Lanczos reference, every picture a PNG."""
    reference = os.path.join(tmp, "reference.png")
    decoded = source
    if source.endswith(".avif"):  # ImageMagick 6 reads no AVIF: vips' own decode is the source
        decoded = os.path.join(tmp, "decoded.png")
        subprocess.run(["vips", "copy", source, decoded], check=True, capture_output=True)
    subprocess.run([CONVERT, decoded, "-filter", "Lanczos", "-resize", f"{w}x{h}!", "-depth", "8", reference], check=True)
    out = {c: os.path.join(tmp, f"quality-{c}.png") for c in ["plugin", "vips", "Pillow", "convert"]}
    in_process(os.path.join(build, "bin", "quintara-host.exe"), ["batch"],
               [f"ae_resize {windows(source)}|{windows(out['plugin'])}|{w}|{h}"] * 2, tmp)
    if source.endswith(GDIPLUS_READS):
        out["GDI+"] = os.path.join(tmp, "quality-gdiplus.png")
        in_process(os.path.join(build, "bin", "gdiplus_floor.exe"), [],
                   [f"{windows(source)}|{windows(out['GDI+'])}|{w}|{h}"] * 2, tmp)
    for name, command in PER_PROCESS.items():
        try:
            whole_process(command(source, out[name], w, h))
        except Unreadable:
            del out[name]
    return {c: psnr(path, reference) for c, path in out.items()}


def largest(formats, inputs, tmp, build):
    """Each source format at 48 megapixels to an 800 by 600 JPEG, one image: the plug-in's peak
    memory and time in its host, beside vipsthumbnail's whole process."""
    host = os.path.join(build, "bin", "quintara-host.exe")
    lines = ["", "Each source format, 8000 by 6000, to an 800 by 600 JPEG, one image: the peak memory of the "
             "process (the plug-in's host holds 19 MB before any work).", "",
             "| source | plug-in | vipsthumbnail | plug-in, time | vipsthumbnail, time |", "|---|---|---|---|---|"]
    for name, suffix in formats:
        source, target = os.path.join(inputs, f"8000x6000-{suffix}"), os.path.join(tmp, "big.jpg")
        make_image(source, 8000, 6000)
        print(f"{name}: 8000x6000 {suffix}, memory", flush=True)
        seconds, _, peak = in_process(host, ["batch"], [f"ae_resize {windows(source)}|{windows(target)}|800|600"], tmp,
                                      warm_up=False)
        vips_seconds, _, vips_peak = whole_process(PER_PROCESS["vips"](source, target, 800, 600))
        lines.append(f"| {name} | {peak:.0f} MB | {vips_peak:.0f} MB | {seconds[0]:.2f} s | {vips_seconds:.2f} s |")
    return lines


def table(title, rows, results, with_quality=True):
    if not rows:
        return []
    lines = ["", title, "",
             "| work | plug-in | vipsthumbnail | Pillow | convert | codecs' floor | GDI+ draw | plug-in/vips "
             "| peak: plug-in | vips | Pillow | convert |"
             + (" dB: plug-in | vips | Pillow | convert | GDI+ |" if with_quality else ""),
             "|---|---|---|---|---|---|---|---|---|---|---|---|" + ("---|---|---|---|---|" if with_quality else "")]
    for name in rows:
        r = results[name]
        m = {c: statistics.median(r[c]) * 1000 if r[c] else float("nan") for c in CONTENDERS}
        ms = {c: f"{m[c]:.0f} ms" if r[c] else "-" for c in CONTENDERS}  # "-": the contender reads no such file
        mb = {c: f"{r[c + ' MB']:.0f} MB" if r[c] else "-" for c in ["plugin", "vips", "Pillow", "convert"]}
        line = (f"| {name} | {ms['plugin']} | {ms['vips']} | {ms['Pillow']} | {ms['convert']} | {ms['codecs']} | {ms['GDI+']} "
                f"| {m['plugin'] / m['vips']:.2f} | {mb['plugin']} | {mb['vips']} | {mb['Pillow']} | {mb['convert']} |")
        if with_quality:
            d = r.get("dB", {})
            line += " " + " | ".join(f"{d[c]:.1f}" if c in d else "-" for c in ["plugin", "vips", "Pillow", "convert", "GDI+"]) + " |"
        lines.append(line)
    return lines


def processor_table(title, rows, results):
    """Mean processor milliseconds per image, every thread: the plug-in's inside its host, the
    others' whole process (their start included, as in their wall time)."""
    if not rows:
        return []
    peers = ["plugin", "vips", "Pillow", "convert"]
    lines = ["", title, "", "| work | plug-in | vipsthumbnail | Pillow | convert | plug-in: processor / wall |",
             "|---|---|---|---|---|---|"]
    for name in rows:
        r = results[name]
        mean = {c: statistics.mean(r[c + " cpu"]) * 1000 if r.get(c + " cpu") else float("nan") for c in peers}
        shown = " | ".join(f"{mean[c]:.0f} ms" if r.get(c + " cpu") else "-" for c in peers)
        lines.append(f"| {name} | {shown} | {mean['plugin'] / (statistics.median(r['plugin']) * 1000):.2f} |")
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--only", help="run only the work of this name")
    parser.add_argument("--charts", help="where the charts go (default: beside results.md)")
    parser.add_argument("--redraw", action="store_true", help="only draw the charts again from the last run's data")
    options = parser.parse_args()
    if options.redraw:
        return draw(options.out, options.charts or options.out, datetime.date.today().isoformat())
    rounds = 2 if options.quick else 3
    few = 2 if options.quick else 4
    os.makedirs(options.out, exist_ok=True)
    inputs = os.path.join(options.build, "bench-inputs")
    os.makedirs(inputs, exist_ok=True)
    formats = [("JPEG", "detail.jpg"), ("PNG, 8-bit", "detail.png"), ("PNG, 16-bit", "16bit.png"),
               ("GIF", "detail.gif"), ("BMP", "detail.bmp"), ("TIFF, LZW", "detail.tif"),
               ("WebP, lossy", "detail.webp")]
    if shutil.which("avifenc"):
        formats.append(("AVIF", "detail.avif"))
    works = [(name, (4000, 3000), suffix, (800, 600), "jpg", few) for name, suffix in formats]
    works += [("JPEG to PNG", (4000, 3000), "detail.jpg", (800, 600), "png", few),
              ("JPEG to GIF", (4000, 3000), "detail.jpg", (800, 600), "gif", few),
              ("JPEG 1.5x reduction", (4000, 3000), "detail.jpg", (2667, 2000), "jpg", few),
              ("enlarge 2x", (800, 600), "detail.jpg", (1600, 1200), "png", few),
              ("enlarge 4x", (400, 300), "detail.jpg", (1600, 1200), "png", few),
              ("small PNG", (64, 48), "detail.png", (32, 24), "png", 20 if options.quick else 60)]
    series = [0.1, 1, 4, 12] if options.quick else [0.1, 0.5, 1, 2, 4, 8, 12, 24, 48]
    for mp in series:
        w = int(round(math.sqrt(mp * 1e6 * 4 / 3)))
        h = w * 3 // 4
        works.append((f"{mp} MP", (w, h), "detail.jpg", (w // 4, h // 4), "jpg", few))
    big = formats + ([("AVIF, grid of 4 by 3", "grid.avif")] if shutil.which("avifenc") else [])
    if options.only:
        works = [w for w in works if w[0] == options.only]
    results = {}
    with tempfile.TemporaryDirectory() as tmp:
        for name, (sw, sh), suffix, (tw, th), extension, count in works:
            source = os.path.join(inputs, f"{sw}x{sh}-{suffix}")
            make_image(source, sw, sh)
            print(f"{name}: {sw}x{sh} {suffix} -> {tw}x{th} {extension}, {count} images x {rounds} rounds", flush=True)
            results[name] = {c: [] for c in CONTENDERS}
            run_work(source, tw, th, extension, count, rounds, tmp, options.build, results[name])
            if not name.endswith(" MP") and name != "small PNG":
                results[name]["dB"] = quality(source, tw, th, tmp, options.build)
            for f in os.listdir(tmp):
                os.remove(os.path.join(tmp, f))
        memory = largest(big, inputs, tmp, options.build) if options.only in (None, "48 MP memory") else []

    machine = f"Debian {platform.machine()}, {os.cpu_count()} cores, " + \
        subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    date = datetime.date.today().isoformat()
    lines = [f"Measured {date} on {machine}: median milliseconds per image ({rounds} rounds, the contenders "
             "taking turns), the peak memory of each contender's process, and PSNR in dB against "
             "ImageMagick's Lanczos reduction of the same source, every picture written as PNG."]
    names = [w[0] for w in works]
    lines += table("Each source format, 4000 by 3000, to an 800 by 600 JPEG:",
                   [n for n, _ in formats if n in results], results)
    lines += table("Targets, reductions and enlargements:",
                   [n for n in names if n in results and n not in dict(formats) and not n.endswith(" MP")], results)
    lines += table("Megapixel series: JPEG sources to a quarter of each side:",
                   [n for n in names if n.endswith(" MP")], results, with_quality=False)
    lines += memory
    lines += processor_table("Processor time per image, every thread (the plug-in's inside its host, the others' "
                             "whole process; the system counts it in 10 ms ticks, so a mean of many):",
                             [n for n in names if n in results], results)
    with open(os.path.join(options.out, "results.md"), "w") as f:
        f.write("\n".join(lines) + "\n")
    print("\n".join(lines))
    if options.only:
        return
    charts(options.out, options.charts or options.out, date, [n for n, _ in formats], series, results)


def charts(out, pictures, date, formats, series, results):
    def med(name, c):
        r = results[name][c]
        return statistics.median(r) if r else float("nan")
    data = os.path.join(out, "formats.dat")
    with open(data, "w") as f:
        f.write("# format, seconds: plugin vips Pillow convert\n")
        for n in formats:
            f.write(f"\"{n}\" {med(n, 'plugin')} {med(n, 'vips')} {med(n, 'Pillow')} {med(n, 'convert')}\n")
    series_data = os.path.join(out, "series.dat")
    with open(series_data, "w") as f:
        f.write("# megapixels, seconds: plugin vips Pillow convert, peak MB: plugin vips Pillow convert\n")
        for mp in series:
            n = f"{mp} MP"
            f.write(f"{mp} " + " ".join(str(med(n, c)) for c in ["plugin", "vips", "Pillow", "convert"]) + " "
                    + " ".join(str(results[n][c + ' MB']) for c in ["plugin", "vips", "Pillow", "convert"]) + "\n")
    draw(out, pictures, date)


def draw(out, pictures, date):
    """The three charts from the data files of a run in `out`."""
    data, series_data = os.path.join(out, "formats.dat"), os.path.join(out, "series.dat")
    lines = "with linespoints"
    script = f"""
set terminal pngcairo size 900,500
set grid ytics
set output '{pictures}/formats.png'
set title 'A 4000 by 3000 source of each format to an 800 by 600 JPEG ({date})'
set ylabel 'seconds per image'
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set xtics rotate by -20
set key outside top center horizontal
plot '{data}' using 2:xtic(1) title 'plug-in (in the host)', '' using 3 title 'vipsthumbnail', \\
     '' using 4 title 'Pillow', '' using 5 title 'ImageMagick convert'
set style data linespoints
unset xtics
set xtics
set grid
set key inside left top vertical
set output '{pictures}/seconds-per-megapixel.png'
set title 'JPEG sources to a quarter of each side: seconds per image ({date})'
set xlabel 'source megapixels'
set ylabel 'seconds per image'
plot '{series_data}' using 1:2 {lines} title 'plug-in (in the host)', '' using 1:3 {lines} title 'vipsthumbnail', \\
     '' using 1:4 {lines} title 'Pillow', '' using 1:5 {lines} title 'ImageMagick convert'
set output '{pictures}/memory-per-megapixel.png'
set title 'JPEG sources to a quarter of each side: peak memory of the process ({date})'
set ylabel 'MB'
plot '{series_data}' using 1:6 {lines} title 'plug-in (the host process)', '' using 1:7 {lines} title 'vipsthumbnail', \\
     '' using 1:8 {lines} title 'Pillow', '' using 1:9 {lines} title 'ImageMagick convert'
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)
    print(f"wrote {out}/results.md, and formats.png, seconds-per-megapixel.png, memory-per-megapixel.png in {pictures}")


if __name__ == "__main__":
    main()
