// SPDX-License-Identifier: BSD-3-Clause
// nubo._nubo, the C part of the Python module `nubo`: reads .NAB files
// through the converter's NabReader (every block decoded by NuboWaveConvert)
// and writes them through its output rules. The samples cross as buffers of
// 16-bit little-endian samples: NumPy arrays that nubo/__init__.py makes.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "nab_reader.h"
#include "nab_writer.h"
#include "outcome_text.h"

using namespace nubo::converter;

namespace {

PyObject* nuboError = nullptr;  // nubo.NuboError

// Raises NuboError(message) with its path, and the block (from 1) and byte
// offset where decoding failed (None when it is not about a block).
PyObject* raiseNuboError(const std::string& message, const std::string& path, int64_t block, int64_t offset) {
  PyObject* error = PyObject_CallFunction(nuboError, "s", message.c_str());
  if (error == nullptr) return nullptr;
  PyObject* pathObject = PyUnicode_DecodeFSDefault(path.c_str());
  PyObject* blockObject = block > 0 ? PyLong_FromLongLong(block) : Py_NewRef(Py_None);
  PyObject* offsetObject = block > 0 ? PyLong_FromLongLong(offset) : Py_NewRef(Py_None);
  if (pathObject != nullptr) PyObject_SetAttrString(error, "path", pathObject);
  PyObject_SetAttrString(error, "block", blockObject);
  PyObject_SetAttrString(error, "offset", offsetObject);
  Py_XDECREF(pathObject);
  Py_DECREF(blockObject);
  Py_DECREF(offsetObject);
  PyErr_SetObject(nuboError, error);
  Py_DECREF(error);
  return nullptr;
}

// Opens `path` and its reader; false with a Python exception set.
bool openReader(const std::string& path, InputFile& file, NabReader& reader) {
  errno = 0;
  if (!file.open(path)) {
    if (errno != 0 && !file.refusedAsNotRegular()) {
      PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    } else {
      raiseNuboError("not a regular file: " + path, path, 0, 0);
    }
    return false;
  }
  if (!reader.open(file)) {
    raiseNuboError(path + ": " + reader.detail(), path, 0, 0);
    return false;
  }
  return true;
}

bool pathArgument(PyObject* object, std::string& path) {
  PyObject* bytes = nullptr;
  if (!PyUnicode_FSConverter(object, &bytes)) return false;
  path.assign(PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
  Py_DECREF(bytes);
  return true;
}

// Where a range of blocks failed to decode: the block from 1 (0: none).
struct RangeResult {
  bool changed = false;  // the file is not the one the first reader indexed
  int64_t failedBlock = 0;
  int64_t failedOffset = 0;
  std::string detail;
};

// Decodes blocks [first, end) of `reader` into `into`, which holds the
// samples up to `limit` (all channels counted; the next range's or the
// file's end). A block decodes in place when a whole code buffer's worth
// of samples fits below the limit; otherwise it goes through scratch, so
// that no range writes into another's samples.
RangeResult decodeRange(NabReader& reader, int64_t first, int64_t end, uint8_t* into, int64_t limit) {
  RangeResult result;
  uint8_t scratch[2 * NUBO_MAX_SAMPLES];
  for (int64_t k = first; k < end; ++k) {
    const int64_t at = reader.firstSampleOf(k);
    const bool inPlace = at + NUBO_MAX_SAMPLES <= limit;
    const int n = reader.decodeBlock(k, inPlace ? into + 2 * at : scratch);
    if (n < 0) {
      result.failedBlock = reader.failedBlock();
      result.failedOffset = reader.failedOffset();
      result.detail = reader.detail();
      break;
    }
    if (!inPlace && at < limit) {
      std::memcpy(into + 2 * at, scratch, static_cast<std::size_t>(2 * std::min<int64_t>(n, limit - at)));
    }
  }
  return result;
}

// Blocks a thread takes at the least (about 5 s of audio): below that a
// thread costs more than it saves.
constexpr int64_t kMinBlocksPerThread = 256;
constexpr int64_t kMaxThreads = 16;

// read(path, allocate, threads) -> (samples, rate): the file opened and its
// blocks indexed, then `allocate(frames, channels)` (numpy.empty, whose large
// arrays are backed by huge pages: fewer page faults) makes the array that
// the blocks are decoded into, with no copy after. The blocks are
// independent: `threads` (0: one per processor) decode contiguous ranges of
// them side by side, each through a reader of its own on the file (the
// file's bytes are never held whole: a buffer that size costs a page fault
// every 4 KiB).
PyObject* readFile(PyObject*, PyObject* args) {
  PyObject* pathObject;
  PyObject* allocate;
  int threads;
  if (!PyArg_ParseTuple(args, "OOi:read", &pathObject, &allocate, &threads)) return nullptr;
  std::string path;
  if (!pathArgument(pathObject, path)) return nullptr;
  if (threads < 0) {
    PyErr_SetString(PyExc_ValueError, "threads must be at least 1");
    return nullptr;
  }
  InputFile file;
  NabReader reader;
  if (!openReader(path, file, reader)) return nullptr;
  // Whole frames: a stream whose samples do not fill its last frame has
  // that sample left out.
  const int64_t total = reader.frameCount() * reader.channels();
  PyObject* array = PyObject_CallFunction(allocate, "LL", static_cast<long long>(reader.frameCount()),
                                          static_cast<long long>(reader.channels()));
  if (array == nullptr) return nullptr;
  Py_buffer out;
  if (PyObject_GetBuffer(array, &out, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) < 0) {
    Py_DECREF(array);
    return nullptr;
  }
  if (out.len != 2 * total) {
    PyBuffer_Release(&out);
    Py_DECREF(array);
    PyErr_SetString(PyExc_ValueError, "the array made for the samples has another size");
    return nullptr;
  }
  auto* into = static_cast<uint8_t*>(out.buf);
  const int64_t blocks = reader.blockCount();
  int64_t count = threads > 0 ? threads
                              : std::min<int64_t>({std::max(1u, std::thread::hardware_concurrency()), kMaxThreads,
                                                   blocks / kMinBlocksPerThread});
  count = std::max<int64_t>(1, std::min({count, blocks, kMaxThreads}));
  std::vector<RangeResult> results(static_cast<std::size_t>(count));
  Py_BEGIN_ALLOW_THREADS
  // Range i: blocks [blocks * i / count, blocks * (i + 1) / count).
  auto rangeStart = [&](int64_t i) { return blocks * i / count; };
  auto limitOf = [&](int64_t i) { return i + 1 == count ? total : reader.firstSampleOf(rangeStart(i + 1)); };
  std::vector<std::thread> workers;
  int64_t own = 1;  // ranges from here on have no thread of their own
  for (int64_t i = 1; i < count; ++i) {
    try {
      workers.emplace_back([&, i] {
        RangeResult& result = results[static_cast<std::size_t>(i)];
        InputFile itsFile;
        NabReader itsReader;
        if (!itsFile.open(path) || !itsReader.open(itsFile) || itsReader.blockCount() != blocks ||
            itsReader.blockOffset(blocks - 1) != reader.blockOffset(blocks - 1)) {
          result.changed = true;
          return;
        }
        result = decodeRange(itsReader, rangeStart(i), rangeStart(i + 1), into, limitOf(i));
      });
    } catch (const std::system_error&) {
      break;  // no more threads to be had: this one decodes the ranges left
    }
    own = i + 1;
  }
  results[0] = decodeRange(reader, 0, rangeStart(1), into, limitOf(0));
  for (int64_t i = own; i < count; ++i) {
    results[static_cast<std::size_t>(i)] = decodeRange(reader, rangeStart(i), rangeStart(i + 1), into, limitOf(i));
  }
  for (std::thread& worker : workers) worker.join();
  Py_END_ALLOW_THREADS
  PyBuffer_Release(&out);
  for (const RangeResult& r : results) {
    if (r.changed) {
      Py_DECREF(array);
      return raiseNuboError(path + ": the file changed while it was read", path, 0, 0);
    }
  }
  // The first damaged block of the file, as a decode in order meets it.
  for (const RangeResult& r : results) {
    if (r.failedBlock != 0) {
      Py_DECREF(array);
      return raiseNuboError(path + ": damaged: " + r.detail + " (byte offset " + std::to_string(r.failedOffset) + ")",
                            path, r.failedBlock, r.failedOffset);
    }
  }
  if (reader.damagedBlock() != 0) {
    Py_DECREF(array);
    const int64_t block = reader.damagedBlock();
    const int64_t offset = reader.damagedOffset();
    return raiseNuboError(path + ": damaged: the file ends inside block " + std::to_string(block) + " (byte offset " +
                              std::to_string(offset) + ")",
                          path, block, offset);
  }
  return Py_BuildValue("(Ni)", array, static_cast<int>(reader.sampleRate()));
}

// info(path) -> dict of the header fields and what the block walk found
PyObject* infoFile(PyObject*, PyObject* args) {
  PyObject* pathObject;
  if (!PyArg_ParseTuple(args, "O:info", &pathObject)) return nullptr;
  std::string path;
  if (!pathArgument(pathObject, path)) return nullptr;
  InputFile file;
  NabReader reader;
  if (!openReader(path, file, reader)) return nullptr;
  const NabHeader& h = reader.header();
  PyObject* damaged = reader.damagedBlock() != 0
                          ? Py_BuildValue("{s:L,s:L}", "block", static_cast<long long>(reader.damagedBlock()), "offset",
                                          static_cast<long long>(reader.damagedOffset()))
                          : Py_NewRef(Py_None);
  if (damaged == nullptr) return nullptr;
  return Py_BuildValue(
      "{s:i,s:i,s:i,s:i,s:i,s:i,s:i,s:I,s:I,s:I,s:L,s:L,s:L,s:L,s:N}", "format_tag", h.formatTag, "channels",
      h.channels, "sample_rate", h.sampleRate, "byte_rate", h.byteRate, "block_align", h.blockAlign,
      "bits_per_sample", h.bitsPerSample, "coder_version", h.coderVersion, "coder_parameter",
      static_cast<unsigned>(h.coderParameter), "header_frames", static_cast<unsigned>(h.frameCount), "data_size",
      static_cast<unsigned>(h.dataSize), "preamble_length", static_cast<long long>(reader.preambleLength()),
      "block_length", static_cast<long long>(reader.blockLength()), "blocks",
      static_cast<long long>(reader.blockCount()), "frames", static_cast<long long>(reader.frameCount()), "damaged",
      damaged);
}

// write(path, samples, channels, rate, overwrite) -> None
PyObject* writeFile(PyObject*, PyObject* args) {
  PyObject* pathObject;
  Py_buffer samples;
  int channels;
  long long rate;
  int overwrite;
  if (!PyArg_ParseTuple(args, "Oy*iLp:write", &pathObject, &samples, &channels, &rate, &overwrite)) return nullptr;
  std::string path;
  if (!pathArgument(pathObject, path)) {
    PyBuffer_Release(&samples);
    return nullptr;
  }
  if ((channels != 1 && channels != 2) || !usableSampleRate(channels, rate) || samples.len % (2 * channels) != 0) {
    PyBuffer_Release(&samples);
    PyErr_SetString(PyExc_ValueError, "1 or 2 channels at a sample rate whose block (channels x rate / 50) holds 1..2047 samples");
    return nullptr;
  }
  const int64_t frames = samples.len / (2 * channels);
  if (frames > 0xFFFFFFFFLL) {
    PyBuffer_Release(&samples);
    PyErr_SetString(PyExc_ValueError, "more frames than a .NAB header can count");
    return nullptr;
  }
  FileOutcome o;
  Py_BEGIN_ALLOW_THREADS
  o = writeCompressedSamples(path, samples.buf, frames, channels, static_cast<int32_t>(rate), overwrite != 0);
  Py_END_ALLOW_THREADS
  PyBuffer_Release(&samples);
  if (o.outcome == Outcome::Converted) Py_RETURN_NONE;
  const std::string text = problemText(o, englishTextOf);
  if (o.outcome == Outcome::Skipped) {
    PyErr_SetObject(PyExc_FileExistsError,
                    Py_BuildValue("(isO)", EEXIST, text.c_str(), pathObject));
    return nullptr;
  }
  return raiseNuboError(text, path, 0, 0);
}

PyMethodDef methods[] = {
    {"read", readFile, METH_VARARGS, "read(path, allocate, threads) -> (samples, rate)"},
    {"info", infoFile, METH_VARARGS, "info(path) -> dict"},
    {"write", writeFile, METH_VARARGS, "write(path, samples, channels, rate, overwrite) -> None"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef moduleDef = {PyModuleDef_HEAD_INIT, "nubo._nubo", "Reading and writing .NAB files.", -1, methods,
                         nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__nubo() {
  PyObject* module = PyModule_Create(&moduleDef);
  if (module == nullptr) return nullptr;
  nuboError = PyErr_NewExceptionWithDoc("nubo.NuboError",
                                        "A .NAB file that cannot be read or written; `block` and `offset` say where "
                                        "decoding failed (None when it is not about a block), `path` the file.",
                                        nullptr, nullptr);
  if (nuboError == nullptr || PyModule_AddObjectRef(module, "NuboError", nuboError) < 0) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}
