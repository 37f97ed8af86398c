// SPDX-License-Identifier: BSD-3-Clause
// nubo._nubo, the C part of the Python module `nubo`: reads .NAB files
// through the converter's NabReader (every block decoded by NuboWaveConvert)
// and writes them through its output rules. The samples cross as buffers of
// 16-bit little-endian samples: NumPy arrays made or wrapped by
// nubo/__init__.py.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/mman.h>

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
// Blocks in one range that a thread takes at a time (about 2.5 s of audio).
constexpr int64_t kRangeBlocks = 128;

// A file being decoded in the background: start_read(path, threads) opens
// the file, indexes its blocks and sets threads decoding ranges of blocks
// into memory of its own, then returns at once, so that the caller can
// import NumPy in the meantime (a cold import costs about as much as
// decoding ten minutes of audio). finish() decodes the ranges still left
// on the caller's thread too, waits for the others and raises what went
// wrong; after it, the object lends its samples through the buffer
// protocol, which numpy.frombuffer wraps without a copy (the array keeps
// the object, and with it the memory, alive).
// The threads take ranges in order from a shared counter, so that one
// slowed by the import (or by anything else on the machine) holds no one
// up. Each reads through a stream of its own on the file, which shares the
// first stream's index: the file's bytes are never held whole.
struct Decoding {
  std::string path;
  InputFile file;
  NabReader reader;   // the caller's, in finish()
  int64_t total = 0;  // samples, all channels counted
  uint8_t* samples = nullptr;
  std::size_t bytes = 0;
  int64_t ranges = 0;
  std::atomic<int64_t> nextRange{0};
  std::atomic<bool> changed{false};  // a thread found another file under the path
  std::vector<RangeResult> results;  // one per range, written by the thread that took it
  std::vector<std::thread> workers;

  ~Decoding() {
    nextRange = ranges;  // ranges not yet taken are not begun
    join();
    if (samples != nullptr) munmap(samples, bytes);
  }
  void join() {
    for (std::thread& worker : workers) {
      if (worker.joinable()) worker.join();
    }
  }
  int64_t rangeStart(int64_t i) const { return std::min(i * kRangeBlocks, reader.blockCount()); }
  // Decodes ranges until none is left.
  void work(NabReader& through) {
    for (int64_t i; (i = nextRange.fetch_add(1)) < ranges;) {
      const int64_t limit = i + 1 == ranges ? total : through.firstSampleOf(rangeStart(i + 1));
      results[static_cast<std::size_t>(i)] = decodeRange(through, rangeStart(i), rangeStart(i + 1), samples, limit);
    }
  }
  void workOnAStreamOfItsOwn() {
    InputFile itsFile;
    NabReader itsReader;
    if (!itsFile.open(path) || !itsReader.openLike(itsFile, reader)) {
      changed = true;
      return;
    }
    work(itsReader);
  }
};

struct DecodingObject {
  PyObject_HEAD
  Decoding* decoding;
  bool finished;  // finish() succeeded: the samples may be lent
};

void decodingDealloc(PyObject* self) {
  auto* object = reinterpret_cast<DecodingObject*>(self);
  if (object->decoding != nullptr) {
    Py_BEGIN_ALLOW_THREADS
    delete object->decoding;  // waits for threads still decoding
    Py_END_ALLOW_THREADS
  }
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

int decodingGetBuffer(PyObject* self, Py_buffer* view, int flags) {
  auto* object = reinterpret_cast<DecodingObject*>(self);
  if (!object->finished) {
    PyErr_SetString(PyExc_BufferError, "the samples are lent only after finish()");
    view->obj = nullptr;
    return -1;
  }
  // An empty file lends an empty buffer at a valid address.
  static uint8_t none[2];
  Decoding& d = *object->decoding;
  return PyBuffer_FillInfo(view, self, d.samples != nullptr ? d.samples : none, static_cast<Py_ssize_t>(2 * d.total),
                           0, flags);
}

// finish() -> (frames, channels, rate), or the file's problem raised.
PyObject* decodingFinish(PyObject* self, PyObject*) {
  auto* object = reinterpret_cast<DecodingObject*>(self);
  Decoding& d = *object->decoding;
  Py_BEGIN_ALLOW_THREADS
  d.work(d.reader);
  d.join();
  Py_END_ALLOW_THREADS
  if (d.changed) return raiseNuboError(d.path + ": the file changed while it was read", d.path, 0, 0);
  // The first damaged block of the file, as a decode in order meets it.
  for (const RangeResult& r : d.results) {
    if (r.failedBlock != 0) {
      return raiseNuboError(d.path + ": damaged: " + r.detail + " (byte offset " + std::to_string(r.failedOffset) +
                                ")",
                            d.path, r.failedBlock, r.failedOffset);
    }
  }
  if (d.reader.damagedBlock() != 0) {
    const int64_t block = d.reader.damagedBlock();
    const int64_t offset = d.reader.damagedOffset();
    return raiseNuboError(d.path + ": damaged: the file ends inside block " + std::to_string(block) +
                              " (byte offset " + std::to_string(offset) + ")",
                          d.path, block, offset);
  }
  object->finished = true;
  return Py_BuildValue("(LLi)", static_cast<long long>(d.reader.frameCount()),
                       static_cast<long long>(d.reader.channels()), static_cast<int>(d.reader.sampleRate()));
}

PyMethodDef decodingMethods[] = {
    {"finish", decodingFinish, METH_NOARGS, "finish() -> (frames, channels, rate)"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot decodingSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(decodingDealloc)},
    {Py_tp_methods, decodingMethods},
    {Py_tp_doc, const_cast<char*>("A .NAB file being decoded: finish(), then its samples through the buffer protocol.")},
    {Py_bf_getbuffer, reinterpret_cast<void*>(decodingGetBuffer)},
    {0, nullptr},
};
PyType_Spec decodingSpec = {"nubo._nubo.Decoding", sizeof(DecodingObject), 0, Py_TPFLAGS_DEFAULT, decodingSlots};
PyTypeObject* decodingType = nullptr;  // made from decodingSpec when the module loads

// Memory for the samples straight from the system, in huge pages where the
// system gives them (fewer page faults on a large file); the threads touch
// it first, each its own range, so the faults are taken side by side.
uint8_t* sampleMemory(std::size_t bytes) {
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
  if (bytes >= (std::size_t{4} << 20) && getenv("NOHUGE") == nullptr) madvise(memory, bytes, MADV_HUGEPAGE);
#endif
  return static_cast<uint8_t*>(memory);
}

// start_read(path, threads) -> Decoding; threads 0: one per processor.
PyObject* startRead(PyObject*, PyObject* args) {
  PyObject* pathObject;
  int threads;
  if (!PyArg_ParseTuple(args, "Oi:start_read", &pathObject, &threads)) return nullptr;
  if (threads < 0) {
    PyErr_SetString(PyExc_ValueError, "threads must be at least 1");
    return nullptr;
  }
  auto d = std::make_unique<Decoding>();
  if (!pathArgument(pathObject, d->path)) return nullptr;
  if (!openReader(d->path, d->file, d->reader)) return nullptr;
  // Whole frames: a stream whose samples do not fill its last frame has
  // that sample left out.
  d->total = d->reader.frameCount() * d->reader.channels();
  d->bytes = static_cast<std::size_t>(2 * d->total);
  if (d->bytes > 0 && (d->samples = sampleMemory(d->bytes)) == nullptr) return PyErr_NoMemory();
  auto* object = PyObject_New(DecodingObject, decodingType);
  if (object == nullptr) return nullptr;
  object->finished = false;
  Decoding& s = *d;
  object->decoding = d.release();

  // `threads` decode side by side: the caller's in finish() and the others
  // from now on.
  const int64_t blocks = s.reader.blockCount();
  int64_t count = threads > 0 ? threads
                              : std::min<int64_t>({std::max(1u, std::thread::hardware_concurrency()), kMaxThreads,
                                                   blocks / kMinBlocksPerThread});
  s.ranges = (blocks + kRangeBlocks - 1) / kRangeBlocks;
  count = std::max<int64_t>(1, std::min({count, s.ranges, kMaxThreads}));
  s.results.resize(static_cast<std::size_t>(s.ranges));
  for (int64_t i = 1; i < count; ++i) {
    try {
      s.workers.emplace_back([&s] { s.workOnAStreamOfItsOwn(); });
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the caller's does the rest
    }
  }
  return reinterpret_cast<PyObject*>(object);
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
    {"start_read", startRead, METH_VARARGS, "start_read(path, threads) -> Decoding (decoding in the background)"},
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
  if (decodingType == nullptr) {
    decodingType = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&decodingSpec));
  }
  if (nuboError == nullptr || PyModule_AddObjectRef(module, "NuboError", nuboError) < 0 || decodingType == nullptr) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}
