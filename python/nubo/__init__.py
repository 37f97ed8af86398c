# SPDX-License-Identifier: BSD-3-Clause
"""Read and write .NAB files (nubo lossless 16-bit audio) as NumPy arrays.

    >>> import nubo
    >>> samples, rate = nubo.read("take.NAB")    # int16, frames x channels
    >>> nubo.info("take.NAB")["coder_version"]
    22
    >>> nubo.write("copy.NAB", samples, rate)     # never replaces a file unasked

Errors about a file's content raise NuboError, whose `block` and `offset`
say where decoding failed; errors of the system raise OSError.
"""

import operator
import os

from ._nubo import NuboError
from . import _nubo

__all__ = ["read", "info", "write", "NuboError"]


def _numpy():
    # NumPy is imported on first use, not with nubo: read() imports it while
    # the file's blocks decode, so a script that reads one file does not
    # wait for both one after the other.
    import numpy

    return numpy


def _count(value, name):
    """An integer argument (int or NumPy integer, not bool), or TypeError."""
    if isinstance(value, bool):
        raise TypeError("%s must be an integer, not bool" % name)
    return operator.index(value)


def read(path, threads=None):
    """Decode a .NAB file of any coder version.

    Returns (samples, rate): samples is a NumPy int16 array of shape
    (frames, channels). A damaged block raises NuboError with its block
    number (from 1) and byte offset. The file is read once; its blocks,
    which are independent, are decoded on `threads` threads side by side
    (by default one per processor for files of more than a few seconds;
    16 at the most)."""
    if threads is not None:
        try:
            threads = _count(threads, "threads")
        except TypeError:
            raise ValueError("threads must be an integer of at least 1, or None") from None
        if threads < 1:
            raise ValueError("threads must be an integer of at least 1, or None")
    decoding = _nubo.start_read(os.fspath(path), 0 if threads is None else min(threads, 64))
    np = _numpy()
    frames, channels, rate = decoding.finish()
    # The samples are little-endian: converted only on a big-endian machine.
    samples = np.frombuffer(decoding, dtype="<i2").reshape(frames, channels)
    return samples.astype(np.int16, copy=False), rate


def info(path):
    """The header fields of a .NAB file and what its blocks hold, without
    decoding them: channels, sample_rate, coder_version, coder_parameter,
    header_frames (as the header records), frames (as the blocks hold),
    blocks, block_length, preamble_length, data_size, and damaged (None, or
    the block and offset where the file ends inside a block)."""
    return _nubo.info(os.fspath(path))


def write(path, samples, rate, overwrite=False):
    """Write samples as a version-22 .NAB file.

    samples: int16 values, shape (frames,) or (frames, channels) with 1 or
    2 channels. The file is written under a temporary name and takes its
    name only when complete. An existing .NAB file is replaced only with
    overwrite=True (FileExistsError otherwise); a file of any other kind is
    never replaced (NuboError)."""
    np = _numpy()
    array = np.asarray(samples)
    if array.dtype != np.int16:
        raise TypeError("samples must be int16, not %s" % array.dtype)
    if array.ndim == 1:
        array = array.reshape(-1, 1)
    if array.ndim != 2 or array.shape[1] not in (1, 2):
        raise ValueError("samples must have the shape (frames,) or (frames, channels) with 1 or 2 channels")
    rate = _count(rate, "rate")
    data = np.ascontiguousarray(array, dtype="<i2")
    _nubo.write(os.fspath(path), data, array.shape[1], rate, bool(overwrite))
