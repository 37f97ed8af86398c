# SPDX-License-Identifier: BSD-3-Clause
"""The Python module against the programs: nubo.read gives the audio of
`nubo decode` for every coder version, nubo.write gives files nubo reads
back, errors carry block and offset, and writing follows the programs'
output rules (never replacing unasked, nothing partial under a final name)."""

import os
import re
import signal
import stat
import subprocess
import sys
import time
import wave

import numpy as np
import pytest

import nubo

BIN = os.environ["NUBO_BIN_DIR"]
NUBO = os.path.join(BIN, "nubo")


def run(*args):
    return subprocess.run(list(args), capture_output=True, text=True)


def wav_samples(path):
    with wave.open(str(path), "rb") as w:
        data = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
        return data.reshape(-1, w.getnchannels()), w.getframerate()


def write_wav(path, samples, rate):
    with wave.open(str(path), "wb") as w:
        w.setnchannels(samples.shape[1])
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(samples.astype("<i2").tobytes())


def audio(frames, channels, seed):
    """Noise over a slow tone: what the coders must work at, not silence."""
    rng = np.random.default_rng(seed)
    t = np.arange(frames)[:, None]
    tone = 8000 * np.sin(2 * np.pi * 220 * t / 44100 + np.arange(channels))
    return np.clip(tone + rng.normal(0, 600, (frames, channels)), -32768, 32767).astype(np.int16)


@pytest.fixture
def tmp(tmp_path):
    os.chdir(tmp_path)
    return tmp_path


@pytest.mark.parametrize("channels,rate,frames", [(1, 22050, 20000), (2, 44100, 88200), (2, 44100, 1), (2, 22075, 3000)])
def test_round_trip_and_nubo_reads_it(tmp, channels, rate, frames):
    samples = audio(frames, channels, frames)
    nubo.write(tmp / "take.NAB", samples if channels == 2 else samples[:, 0], rate)
    back, back_rate = nubo.read(tmp / "take.NAB")
    assert back_rate == rate and back.dtype == np.int16 and back.shape == (frames, channels)
    assert np.array_equal(back, samples)
    info = nubo.info(str(tmp / "take.NAB"))
    assert (info["coder_version"], info["channels"], info["sample_rate"]) == (22, channels, rate)
    assert info["frames"] == info["header_frames"] == frames and info["damaged"] is None
    # The programs read it as the same audio, and find it complete.
    assert run(NUBO, "--quiet", "decode", "take.NAB", "-o", "take.wav").returncode == 0
    decoded, _ = wav_samples(tmp / "take.wav")
    assert np.array_equal(decoded, samples)
    assert run(NUBO, "test", "take.NAB").returncode == 0


def test_empty_audio(tmp):
    nubo.write("none.NAB", np.zeros((0, 2), np.int16), 44100)
    back, rate = nubo.read("none.NAB")
    assert back.shape == (0, 2) and rate == 44100


@pytest.mark.parametrize("version", [20, 21, 22])
def test_read_gives_the_audio_of_nubo_decode(tmp, version):
    source = audio(30001, 2, version)
    write_wav(tmp / "src.wav", source, 44100)
    if version == 22:
        assert run(NUBO, "--quiet", "encode", "src.wav", "-o", "take.NAB").returncode == 0
    else:
        assert run(os.path.join(BIN, "make_old_nab"), "src.wav", "take.NAB", str(version), "--preamble", "pre").returncode == 0
    assert run(NUBO, "--quiet", "decode", "take.NAB", "-o", "ref.wav").returncode == 0
    ref, rate = wav_samples(tmp / "ref.wav")
    samples, got_rate = nubo.read("take.NAB")
    assert got_rate == rate and np.array_equal(samples, ref) and np.array_equal(samples, source)
    info = nubo.info("take.NAB")
    assert info["coder_version"] == version and info["preamble_length"] == (3 if version != 22 else 0)
    if version == 22:
        # The same audio written from Python is the file nubo encode writes, byte for byte.
        nubo.write("mine.NAB", samples, rate)
        assert (tmp / "mine.NAB").read_bytes() == (tmp / "take.NAB").read_bytes()


def nubo_test_position(path):
    """The block and byte offset nubo test names for a damaged file."""
    result = run(NUBO, "test", path)
    assert result.returncode != 0
    found = re.search(r"block (\d+), byte offset (\d+)", result.stdout + result.stderr)
    assert found, result.stdout + result.stderr
    return int(found.group(1)), int(found.group(2))


def test_damaged_and_cut_files_raise_with_block_and_offset(tmp):
    nubo.write("take.NAB", audio(44100, 2, 1), 44100)
    data = bytearray((tmp / "take.NAB").read_bytes())
    data[30000:30040] = bytes(40)  # zeros: escape codes that overrun the block
    (tmp / "bad.NAB").write_bytes(bytes(data))
    with pytest.raises(nubo.NuboError) as caught:
        nubo.read("bad.NAB")
    assert (caught.value.block, caught.value.offset) == nubo_test_position("bad.NAB")
    assert caught.value.path == "bad.NAB" and "damaged" in str(caught.value)

    (tmp / "cut.NAB").write_bytes(bytes(data[:20000]))
    with pytest.raises(nubo.NuboError) as caught:
        nubo.read("cut.NAB")
    assert (caught.value.block, caught.value.offset) == nubo_test_position("cut.NAB")
    assert nubo.info("cut.NAB")["damaged"] == {"block": caught.value.block, "offset": caught.value.offset}


def test_threads_decode_the_same_audio_and_name_the_first_damaged_block(tmp):
    # 1200 blocks of 2 x 882 samples and a short last one: up to 4 ranges of
    # at least 256 blocks by default, as many as asked for otherwise.
    samples = audio(1200 * 882 + 300, 2, 7)
    nubo.write("take.NAB", samples, 44100)
    for threads in (None, 1, 2, 3, 7):
        assert np.array_equal(nubo.read("take.NAB", threads=threads)[0], samples), threads
    # Blocks of 883 samples at 22075 Hz stereo split frames, at the ranges' ends too.
    odd = audio(700 * 441 + 17, 2, 8)
    nubo.write("odd.NAB", odd, 22075)
    for threads in (1, 2, 5):
        assert np.array_equal(nubo.read("odd.NAB", threads=threads)[0], odd), threads

    # Damage late in the file, then earlier ones: the error names the first
    # damaged block, as nubo test does, whichever range holds it.
    data = bytearray((tmp / "take.NAB").read_bytes())
    for share in (0.9, 0.6, 0.3):
        at = int(len(data) * share)
        data[at : at + 40] = bytes(40)
        (tmp / "bad.NAB").write_bytes(bytes(data))
        expected = nubo_test_position("bad.NAB")
        for threads in (1, 2, 4):
            with pytest.raises(nubo.NuboError) as caught:
                nubo.read("bad.NAB", threads=threads)
            assert (caught.value.block, caught.value.offset) == expected, (share, threads)
    (tmp / "cut.NAB").write_bytes((tmp / "take.NAB").read_bytes()[: len(data) * 8 // 10])
    expected = nubo_test_position("cut.NAB")
    for threads in (1, 3):
        with pytest.raises(nubo.NuboError) as caught:
            nubo.read("cut.NAB", threads=threads)
        assert (caught.value.block, caught.value.offset) == expected

    for wrong in (0, -1, 1.5, True, "2"):
        with pytest.raises(ValueError):
            nubo.read("take.NAB", threads=wrong)


def test_the_array_owns_its_samples_and_an_unfinished_read_ends_cleanly(tmp):
    samples = audio(1200 * 882, 2, 9)
    nubo.write("take.NAB", samples, 44100)
    got, _ = nubo.read("take.NAB")
    got[0, 0] ^= 1  # writable, and the decoder's memory stays with the array
    del samples
    again, _ = nubo.read("take.NAB")
    assert got[0, 0] == again[0, 0] ^ 1 and np.array_equal(got[1:], again[1:])

    # A read dropped before its end (an exception during NumPy's import, say)
    # or still decoding when the interpreter exits: no samples are lent
    # early, nothing crashes, and nubo alone does not import NumPy.
    script = (
        "import sys, nubo\n"
        "from nubo import _nubo\n"
        "assert 'numpy' not in sys.modules\n"
        "d = _nubo.start_read('take.NAB', 4)\n"
        "try:\n"
        "    memoryview(d)\n"
        "    sys.exit('lent before finish')\n"
        "except BufferError:\n"
        "    pass\n"
        "del d\n"
        "d = _nubo.start_read('take.NAB', 4)\n"
    )
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr


def test_files_that_are_not_readable_nab(tmp):
    write_wav(tmp / "src.wav", audio(100, 1, 2), 8000)
    with pytest.raises(nubo.NuboError) as caught:
        nubo.read("src.wav")
    assert caught.value.block is None
    with pytest.raises(FileNotFoundError):
        nubo.read("missing.NAB")
    with pytest.raises(nubo.NuboError):
        nubo.info(str(tmp))  # a directory
    os.mkfifo("fifo.NAB")  # refused at once, never waited on
    with pytest.raises(nubo.NuboError):
        nubo.read("fifo.NAB")


def test_arguments_that_write_nothing(tmp):
    with pytest.raises(TypeError):
        nubo.write("x.NAB", np.zeros((10, 2), np.float32), 44100)
    with pytest.raises(ValueError):
        nubo.write("x.NAB", np.zeros((10, 3), np.int16), 44100)
    with pytest.raises(ValueError):
        nubo.write("x.NAB", np.zeros((10, 2), np.int16), 52000)  # a block of 2080 samples
    with pytest.raises(ValueError):
        nubo.write("x.NAB", np.zeros((10, 2), np.int16), 0)
    assert os.listdir(tmp) == []


def test_writing_never_replaces_unasked(tmp):
    first, second = audio(5000, 2, 3), audio(6000, 2, 4)
    nubo.write("take.NAB", first, 44100)
    before = (tmp / "take.NAB").read_bytes()
    with pytest.raises(FileExistsError):
        nubo.write("take.NAB", second, 44100)
    assert (tmp / "take.NAB").read_bytes() == before
    nubo.write("take.NAB", second, 44100, overwrite=True)
    assert np.array_equal(nubo.read("take.NAB")[0], second)
    # A file of another kind is never replaced, not even with overwrite.
    (tmp / "notes.NAB").write_text("notes")
    for overwrite in (False, True):
        with pytest.raises(nubo.NuboError):
            nubo.write("notes.NAB", first, 44100, overwrite=overwrite)
    assert (tmp / "notes.NAB").read_text() == "notes"
    # Through a link: the file it names is an existing output like any other.
    os.symlink("take.NAB", "link.NAB")
    with pytest.raises(FileExistsError):
        nubo.write("link.NAB", first, 44100)
    os.symlink("nowhere.NAB", "dangling.NAB")
    with pytest.raises(nubo.NuboError):
        nubo.write("dangling.NAB", first, 44100)
    assert not os.path.exists("nowhere.NAB")
    assert sorted(os.listdir(tmp)) == ["dangling.NAB", "link.NAB", "notes.NAB", "take.NAB"]


def test_names_taken_as_given_and_the_new_file_mode(tmp):
    samples = audio(3000, 1, 5)
    for name in ["-take.NAB", "with space.nab", "n\u00e4me*?.NAB", "no extension"]:
        nubo.write(name, samples, 16000)
        assert np.array_equal(nubo.read(name)[0], samples)
    umask = os.umask(0o027)
    try:
        nubo.write("masked.NAB", samples, 16000)
    finally:
        os.umask(umask)
    assert stat.S_IMODE(os.stat("masked.NAB").st_mode) == 0o640


def test_killed_writer_leaves_nothing_under_the_final_name(tmp):
    # Ten minutes of stereo audio take long enough to be killed midway.
    script = (
        "import numpy as np, nubo\n"
        "rng = np.random.default_rng(0)\n"
        "nubo.write('big.NAB', rng.integers(-30000, 30000, (26460000, 2), dtype=np.int16), 44100)\n"
    )
    child = subprocess.Popen([sys.executable, "-c", script])
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and child.poll() is None:
        if any(name.endswith(".nubo-part") for name in os.listdir(tmp)):
            break
        time.sleep(0.01)
    child.send_signal(signal.SIGKILL)
    child.wait()
    if child.returncode == 0:
        pytest.skip("the writer finished before it could be killed")
    assert not os.path.exists("big.NAB")
    left = os.listdir(tmp)
    assert len(left) == 1 and left[0].endswith(".nubo-part")


@pytest.mark.skipif(os.geteuid() != 0, reason="mounting a small file system needs root")
def test_full_disk(tmp):
    os.mkdir("small")
    if run("mount", "-t", "tmpfs", "-o", "size=200k", "tmpfs", "small").returncode != 0:
        pytest.skip("cannot mount a tmpfs here")
    try:
        with pytest.raises(nubo.NuboError) as caught:
            nubo.write("small/take.NAB", audio(441000, 2, 6), 44100)
        assert "No space left on device" in str(caught.value)
        assert not os.path.exists("small/take.NAB")
    finally:
        run("umount", "small")
