#!/usr/bin/env python3
"""Runs the installed plug-in on emulated processors of levels 2 to 8.

    emulated_cpus.py BUILD_DIR SOURCE_DIR [RUNS]

Installs the bundle and the four engine builds into a private home, then for
one processor model per level runs `vxhost info --json` and renders an impulse
under `qemu-x86_64 -cpu MODEL`, RUNS times (default 3). Each model must report
its level, load the build the selection table gives it first (at level 2:
load none, show the refusal alert and refuse to render), and put the delayed impulse where a native render
puts it. A signal, an illegal instruction above all, fails the run.
"""
import json
import os
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import wave

# model, expected level, build loaded first (None: the plug-in refuses)
MODELS = [
    ("qemu64,-pni", 2, None),
    ("qemu64", 3, "audplg.dylib"),
    ("Conroe", 4, "audplg.dylib"),
    ("Penryn", 5, "audplg.dylib"),
    ("Nehalem", 6, "audplg.dylib"),
    ("SandyBridge", 7, "audplga.dylib"),
    ("Haswell", 8, "audplga2.dylib"),
]
RATE = 48000
DELAY_MS = 10
IMPULSE_AT = 1000
REFUSAL = "Target CPU is not supported (CPU ISA = 2). Plug-In will not load."
RENDER_SETTINGS = ["--set", f"Delay Time={DELAY_MS}", "--set", "Feedback=0", "--set", "Mix=100",
                   "--set", "High Cut=20000", "--tail", "0", "--quiet", "--rate", str(RATE)]


def write_impulse(path):
    frames = bytearray(4 * 4096)
    struct.pack_into("<hh", frames, 4 * IMPULSE_AT, 16384, 16384)
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))


def read_float_wav(path):
    """Interleaved samples of a 32-bit float WAV file (what vxhost writes)."""
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError(f"{path}: not a WAV file")
    pos, fmt, samples = 12, None, None
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        body = data[pos + 8:pos + 8 + size]
        if tag == b"fmt ":
            fmt = struct.unpack_from("<HHIIHH", body)
        elif tag == b"data":
            samples = body
        pos += 8 + size + (size & 1)
    if fmt is None or samples is None or fmt[5] != 32 or fmt[0] not in (3, 0xFFFE):
        raise ValueError(f"{path}: not a 32-bit float WAV file ({fmt})")
    return fmt[1], struct.unpack(f"<{len(samples) // 4}f", samples)


def run(cmd, env):
    # A crash under the emulator would leave a core file in the working folder.
    no_core = lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    result = subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=300,
                            preexec_fn=no_core)
    if result.returncode < 0:
        name = signal.Signals(-result.returncode).name
        raise AssertionError(f"{' '.join(cmd)} died of {name}\n{result.stderr}")
    return result


def left_channel(path):
    channels, samples = read_float_wav(path)
    return samples[0::channels]


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    build, source = argv[0], argv[1]
    runs = int(argv[2]) if len(argv) > 2 else 3
    vxhost = os.path.join(build, "bin", "vxhost")
    failures = []
    with tempfile.TemporaryDirectory(prefix="vx-cpu-") as home:
        env = dict(os.environ, HOME=home,
                   VEXTRA_SUPPORT_FOLDER=os.path.join(home, "support"),
                   VX_ENGINE_DIR=os.path.join(build, "engines"))
        components = os.path.join(home, "Library", "Audio", "Plug-Ins", "Components")
        os.makedirs(components)
        shutil.copytree(os.path.join(build, "VX-Delay.component"),
                        os.path.join(components, "VX-Delay.component"), symlinks=True)
        subprocess.run(["bash", os.path.join(source, "scripts", "install-engines.sh"),
                        env["VEXTRA_SUPPORT_FOLDER"]], env=env, check=True)
        impulse = os.path.join(home, "impulse.wav")
        write_impulse(impulse)

        native = os.path.join(home, "native.wav")
        result = run([vxhost, "render", "-i", impulse, "-o", native] + RENDER_SETTINGS, env)
        if result.returncode != 0:
            print(f"native render failed:\n{result.stderr}")
            return 1
        reference = left_channel(native)
        peak = max(range(len(reference)), key=lambda i: abs(reference[i]))
        expected = IMPULSE_AT + RATE * DELAY_MS // 1000
        if abs(peak - expected) > 2 or abs(reference[peak]) < 0.1:
            print(f"native render: peak at {peak} ({reference[peak]}), expected near {expected}")
            return 1

        for model, level, build_file in MODELS:
            emulate = ["qemu-x86_64", "-cpu", model]
            for attempt in range(runs):
                label = f"{model} (level {level}) run {attempt + 1}"
                try:
                    info = run(emulate + [vxhost, "info", "--json"], env)
                    assert info.returncode == 0, info.stderr
                    facts = json.loads(info.stdout)
                    got = facts["processor"]["instructionSetLevel"]
                    assert got == level, f"detected level {got}"
                    loaded = [os.path.basename(m) for m in facts["modulesLoaded"]]
                    assert loaded == ([build_file] if build_file else []), f"loaded {loaded}"
                    alerts = [REFUSAL + " (Vextra-Audio Delay)"] if build_file is None else []
                    assert facts["alerts"] == alerts, f"alerts {facts['alerts']}"

                    out = os.path.join(home, "out.wav")
                    settings = RENDER_SETTINGS if build_file else ["--quiet"]
                    render = run(emulate + [vxhost, "render", "-i", impulse, "-o", out] + settings,
                                 env)
                    if build_file is None:
                        # The instance opens without an engine and refuses to initialise.
                        assert render.returncode != 0 and "status -10875" in render.stderr, \
                            f"render without an engine: {render.returncode} {render.stderr}"
                        continue
                    assert render.returncode == 0, render.stderr
                    got = left_channel(out)
                    assert len(got) == len(reference), f"{len(got)} frames"
                    worst = max(abs(a - b) for a, b in zip(got, reference))
                    assert abs(got[peak]) >= 0.1 and worst < 1e-4, \
                        f"impulse {got[peak]} at {peak}, largest difference {worst}"
                except AssertionError as failure:
                    failures.append(f"{label}: {failure}")
                    print(f"FAIL {label}: {failure}")
                    break
            else:
                print(f"ok   {model}: level {level}, {build_file or 'refused'}, {runs} runs")
    for f in failures:
        print(f"FAILED {f}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
