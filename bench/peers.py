#!/usr/bin/env python3
"""Tessaline beside its peers on the shared photographs and icons, in one run: tessaline-cli (default,
--preset fast, --tune perceptual, with and without dithering) and ImageMagick, ffmpeg and image-q's Wu
palette, all at 256 colours. For every tool and group it prints the mean PSNR (tessaline-cli's own
figure, through tessaline-bench-psnr: over black and over white, the two mean squared errors
averaged), the mean butteraugli 3-norm (images with transparency composited over black and over
white, the two scores averaged) and the wall time: per file, the fastest of RUNS runs, the tools
taking turns, summed over the group. The machine's load is printed with the figures: other work on
it distorts the times, never the quality figures. Not part of ctest.

    bench/setup_peers.sh          # once: ImageMagick, ffmpeg, butteraugli, image-q
    bench/peers.py [--runs N] [--build DIR] [--detail] [--only NAME,NAME] [--extra NAME=OPTIONS]

--extra adds a tessaline-cli row with the given options (e.g. --extra "voronoi4=--voronoi 4")."""
import argparse
import concurrent.futures
import glob
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
# The real ImageMagick, not a wrapper that may stand in front of it on the path.
CONVERT = '/usr/bin/convert' if os.path.exists('/usr/bin/convert') else 'convert'


def tessaline(cli, *options):
    return lambda src, out: [cli, '--quiet', *options, '-o', out, src]


def imagemagick(*options):
    return lambda src, out: [CONVERT, src, *options, '-colors', '256', out]


def ffmpeg(dither):
    graph = ('[0:v]split[a][b];[a]palettegen=max_colors=256[p];'
             f'[b][p]paletteuse=dither={dither}')
    return lambda src, out: ['ffmpeg', '-v', 'error', '-y', '-i', src, '-filter_complex', graph,
                             '-frames:v', '1', out]


def image_q(quantization):
    script = os.path.join(HERE, 'peers', 'image_q_wu.js')
    return lambda src, out: ['node', script, src, out, quantization]


def tools(cli, extra):
    listed = [
        ('tessaline default', tessaline(cli)),
        ('tessaline default --no-dither', tessaline(cli, '--no-dither')),
        ('tessaline --preset fast', tessaline(cli, '--preset', 'fast')),
        ('tessaline --preset fast --no-dither', tessaline(cli, '--preset', 'fast', '--no-dither')),
        ('tessaline --tune perceptual', tessaline(cli, '--tune', 'perceptual')),
        ('tessaline --tune perceptual --no-dither', tessaline(cli, '--tune', 'perceptual', '--no-dither')),
        ('tessaline --no-contrast-map', tessaline(cli, '--no-contrast-map')),
        ('ImageMagick -colors 256 (Riemersma)', imagemagick()),
        ('ImageMagick -dither FloydSteinberg', imagemagick('-dither', 'FloydSteinberg')),
        ('ImageMagick +dither', imagemagick('+dither')),
        ('ffmpeg paletteuse sierra2_4a', ffmpeg('sierra2_4a')),
        ('ffmpeg paletteuse none', ffmpeg('none')),
        ('image-q Wu floyd-steinberg', image_q('floyd-steinberg')),
        ('image-q Wu nearest', image_q('nearest')),
    ]
    for item in extra:
        name, _, options = item.partition('=')
        listed.append(('tessaline ' + name, tessaline(cli, *shlex.split(options))))
    return listed


def opaque(path):
    out = subprocess.run([CONVERT.replace('convert', 'identify'), '-format', '%[opaque]', path],
                         capture_output=True, text=True)
    return out.stdout.strip().lower() == 'true'


def butteraugli(source, result, work):
    """The 3-norm; over black and over white, averaged, when the source has transparency. Both
    images go to butteraugli as PPM, which it reads as sRGB: our files carry a gAMA chunk of
    0.45455 that it would otherwise take for a pure 2.2 power curve, while the sources and the
    peers' files carry none, so the same pixels would score differently."""
    def score(a, b):
        out = subprocess.run(['butteraugli_main', a, b, '--pnorm', '3'], capture_output=True, text=True,
                             check=True)
        for line in out.stdout.splitlines():
            if line.startswith('3-norm:'):
                return float(line.split()[1])
        raise RuntimeError('no 3-norm from butteraugli_main: ' + out.stdout)

    def flat(path, background, tag):
        target = os.path.join(work, f'{os.path.basename(path)}.{tag}.{background}.ppm')
        subprocess.run([CONVERT, path, '-background', background, '-alpha', 'remove', '-alpha', 'off',
                        target], check=True)
        return target

    # Each result gets its own copies of the source: the scores run side by side.
    tag = os.path.basename(result)
    backgrounds = ('black',) if opaque(source) else ('black', 'white')
    scores = [score(flat(source, bg, 'source-' + tag), flat(result, bg, tag)) for bg in backgrounds]
    return sum(scores) / len(scores)


def psnr(psnr_tool, source, result):
    out = subprocess.run([psnr_tool, source, result], capture_output=True, text=True)
    if out.returncode != 0:
        raise RuntimeError(out.stderr.strip())
    return float(out.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--runs', type=int, default=int(os.environ.get('RUNS', 3)))
    parser.add_argument('--build', default=os.path.join(ROOT, 'build', 'release'))
    parser.add_argument('--images', default=os.path.join(os.environ.get('TESSALINE_SHARED_DIR',
                                                                        os.path.join(ROOT, '..', 'shared')),
                                                         'testdata', 'images'))
    parser.add_argument('--detail', action='store_true', help='also print every image')
    parser.add_argument('--only', default='', help='comma-separated tool names (substrings) to run')
    parser.add_argument('--extra', action='append', default=[], help='NAME=OPTIONS: another tessaline row')
    args = parser.parse_args()

    cli = os.path.join(args.build, 'cli', 'tessaline-cli')
    psnr_tool = os.path.join(args.build, 'bench', 'tessaline-bench-psnr')
    for program in (cli, psnr_tool):
        if not os.access(program, os.X_OK):
            sys.exit(f'peers: {program} is not built')
    for program in (CONVERT, 'ffmpeg', 'node', 'butteraugli_main'):
        if not shutil.which(program):
            sys.exit(f'peers: {program} is missing; run bench/setup_peers.sh')
    groups = {'photos': sorted(glob.glob(os.path.join(args.images, 'photo-*.png'))),
              'icons': sorted(glob.glob(os.path.join(args.images, 'icon-*.png')))}
    if not any(groups.values()):
        print(f'peers: no shared images in {args.images}; nothing to measure')
        return

    listed = tools(cli, args.extra)
    if args.only:
        wanted = args.only.split(',')
        listed = [t for t in listed if any(w in t[0] for w in wanted)]
    images = [path for paths in groups.values() for path in paths]
    work = tempfile.mkdtemp(prefix='tessaline-peers-')
    try:
        load_before = open('/proc/loadavg').read().split()[:3]
        best = {}
        # The tools take turns on every image in every run, so that a burst of other work on the
        # machine spreads over all of them rather than landing on one.
        for _ in range(args.runs):
            for image in images:
                for t, (name, command) in enumerate(listed):
                    out = os.path.join(work, f'{t}-{os.path.basename(image)}')
                    start = time.perf_counter()
                    subprocess.run(command(image, out), check=True, stdin=subprocess.DEVNULL)
                    ms = (time.perf_counter() - start) * 1000.0
                    best[(name, image)] = min(ms, best.get((name, image), float('inf')))
        load_after = open('/proc/loadavg').read().split()[:3]

        jobs = {}
        with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
            for t, (name, _) in enumerate(listed):
                for image in images:
                    out = os.path.join(work, f'{t}-{os.path.basename(image)}')
                    jobs[(name, image)] = (pool.submit(psnr, psnr_tool, image, out),
                                           pool.submit(butteraugli, image, out, work))
            figures = {key: (p.result(), b.result()) for key, (p, b) in jobs.items()}
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print(f'load average before: {" ".join(load_before)}, after: {" ".join(load_after)}; '
          f'time: fastest of {args.runs} runs per file, summed')
    headers = ['tool']
    for group, paths in groups.items():
        if paths:
            headers += [f'{group} PSNR', f'{group} butteraugli', f'{group} ms']
    photos768 = [p for p in groups['photos'] if 'large' not in os.path.basename(p)]
    if photos768:
        headers.append('768×512 photos ms')
    print('| ' + ' | '.join(headers) + ' |')
    print('| --- ' + '| ---: ' * (len(headers) - 1) + '|')
    for name, _ in listed:
        cells = [name]
        for group, paths in groups.items():
            if not paths:
                continue
            cells.append('%.2f' % (sum(figures[(name, p)][0] for p in paths) / len(paths)))
            cells.append('%.3f' % (sum(figures[(name, p)][1] for p in paths) / len(paths)))
            cells.append('%.0f' % sum(best[(name, p)] for p in paths))
        if photos768:
            cells.append('%.0f' % sum(best[(name, p)] for p in photos768))
        print('| ' + ' | '.join(cells) + ' |')
    if args.detail:
        print()
        print('| tool | image | PSNR | butteraugli | ms |')
        print('| --- | --- | ---: | ---: | ---: |')
        for name, _ in listed:
            for image in images:
                p, b = figures[(name, image)]
                print(f'| {name} | {os.path.basename(image)} | {p:.2f} | {b:.3f} | {best[(name, image)]:.0f} |')


if __name__ == '__main__':
    main()
