// SPDX-License-Identifier: BSD-3-Clause
// nubo._nubo, the C part of the Python module `nubo`: reads .NAB files
// through the converter's NabReader (every block decoded by NuboWaveConvert)
// and writes them through its output rules. The samples cross as buffers of
// 16-bit little-endian samples: NumPy arrays that nubo/__init__.py makes.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string>

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

// read_into(path, samples): decodes every block into `samples`, a writable
// C-contiguous buffer of exactly the file's frames x channels 16-bit samples
// (as info() counted them). The caller allocates it (NumPy, whose large
// arrays are backed by huge pages: fewer page faults than a bytearray).
PyObject* readInto(PyObject*, PyObject* args) {
  PyObject* pathObject;
  Py_buffer out;
  if (!PyArg_ParseTuple(args, "Ow*:read_into", &pathObject, &out)) return nullptr;
  std::string path;
  if (!pathArgument(pathObject, path)) {
    PyBuffer_Release(&out);
    return nullptr;
  }
  InputFile file;
  NabReader reader;
  if (!openReader(path, file, reader)) {
    PyBuffer_Release(&out);
    return nullptr;
  }
  // Whole frames: a stream whose samples do not fill its last frame has
  // that sample left out.
  const int64_t total = reader.frameCount() * reader.channels();
  if (out.len != 2 * total) {
    PyBuffer_Release(&out);
    return raiseNuboError(path + ": the file changed while it was read", path, 0, 0);
  }
  auto* into = static_cast<uint8_t*>(out.buf);
  bool decoded = true;
  Py_BEGIN_ALLOW_THREADS
  uint8_t scratch[2 * NUBO_MAX_SAMPLES];
  for (int64_t k = 0; k < reader.blockCount(); ++k) {
    const int64_t first = reader.firstSampleOf(k);
    // A block decodes in place when a whole code buffer's worth of samples
    // fits there; near the end it goes through scratch.
    const bool inPlace = first + NUBO_MAX_SAMPLES <= total;
    const int n = reader.decodeBlock(k, inPlace ? into + 2 * first : scratch);
    if (n < 0) {
      decoded = false;
      break;
    }
    if (!inPlace && first < total) {
      std::memcpy(into + 2 * first, scratch, static_cast<std::size_t>(2 * std::min<int64_t>(n, total - first)));
    }
  }
  Py_END_ALLOW_THREADS
  PyBuffer_Release(&out);
  if (!decoded || reader.damagedBlock() != 0) {
    const bool walk = decoded;
    const int64_t block = walk ? reader.damagedBlock() : reader.failedBlock();
    const int64_t offset = walk ? reader.damagedOffset() : reader.failedOffset();
    const std::string what = walk ? "the file ends inside block " + std::to_string(block) : reader.detail();
    return raiseNuboError(path + ": damaged: " + what + " (byte offset " + std::to_string(offset) + ")", path, block,
                          offset);
  }
  Py_RETURN_NONE;
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
    {"read_into", readInto, METH_VARARGS, "read_into(path, samples) -> None"},
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
