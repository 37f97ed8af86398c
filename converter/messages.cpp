// SPDX-License-Identifier: BSD-3-Clause
// The English texts of the messages, compiled in so that nubo works without
// a definition file; data/NUBOCONV.h holds the same texts (a test compares them).
#include "message_entries.h"

namespace nubo::converter {

const char* englishText(int id) {
  switch (id) {
    case 24: return "Yes";
    case 25: return "No";
    case 26: return "The settings could not be saved:";
    case 27: return "Cancel";
    case 28: return "Error";
    case 29: return "This language file cannot be used and is passed over:";
    case 39: return "The FLAC file is damaged or disagrees with its STREAMINFO; not converted:";
    case 40: return "Input:";
    case 41: return "Output:";
    case 43:
      return "Input: PCM WAVE file, directory/ or pattern; *.* is every file. Output: file, directory/, "
             "name* or *.* (the input's name with the extension .NAB), or name! (a ! toggled before the "
             "extension). An output that would be its input takes E for its last capital A (TAKE.NAB -> "
             "TAKE.NEB).";
    case 44:
      return "Input: .NAB file, directory/ or pattern; *.* is every file. Output: file, directory/, "
             "name* or *.* (the input's name with the extension .NAB), or name! (a ! toggled before the "
             "extension). An output that would be its input takes E for its last capital A (TAKE.NAB -> "
             "TAKE.NEB).";
    case 45: return "Stop the conversion after the current block?";
    case 46: return "MB encoded:";
    case 47: return "MB re-encoded:";
    case 48: return "MB verified:";
    case 49: return " % size change: ";
    case 50: return "Finished.";
    case 51: return "No input file found.";
    case 52: return "Output file exists, not converted:";
    case 53: return "Stopping after the current block...";
    case 54: return "Not possible while a conversion is running.";
    case 55: return "file(s) converted";
    case 56: return "Stopping; please wait for the current block.";
    case 57: return "Conversion stopped.";
    case 58: return "Too many subdirectories: conversion stopped.";
    case 59: return "Cannot create the output file:";
    case 60: return "Several input files need an output directory/, name* or name!";
    case 61: return "Cannot write the output file:";
    case 62: return "";
    case 63: return "Cannot create the output directory:";
    case 64: return "Please enter an output file or directory.";
    case 65: return "The input file is damaged (a block cannot be decoded):";
    case 66: return "The output would overwrite the input; not converted:";
    case 67: return "Verify failed: the decoded audio differs from:";
    case 68: return "skipped (output existed)";
    case 69: return "Path longer than 299 characters; not converted:";
    case 70: return "Unsupported sample rate (more than 2047 samples per block); not converted:";
    case 71: return "The output would pass the 4 GiB limit of the file format; stopped:";
    case 72: return "MB decoded:";
    case 73: return "Not a regular file (a FIFO, socket or device); not converted:";
    case 74: return "Cannot read the directory:";
    case 75: return "Cannot open the input file:";
    case 76: return "Already coder version 22; not converted:";
    case 77: return "Not a compressed (.NAB) file; not converted:";
    case 78: return "Not a 16-bit PCM WAVE file; not converted:";
    case 79: return "The output is an input of this run; not converted:";
    case 80: return "The existing output is not a version-22 compressed file; not replaced:";
    case 81: return "The existing output is not a WAVE file; not replaced:";
    case 82: return "Another input of this run writes the same output; not converted:";
    case 83: return "The existing output is incomplete; not converted:";
    case 84: return "The input file is incomplete (its header disagrees with its length); converted as far as it goes:";
    case 85: return "partial output kept as";
    case 86: return "file(s) not converted";
    case 9: return "file(s) incomplete";
    case 87: return "The output appeared or changed during the conversion; not replaced:";
    case 88: return "block";
    case 89: return "byte offset";
    case 90: return "The WAVE header's data size is wrong; the audio was read to the end of the file:";
    case 91: return "Verify failed: the WAVE file's sample rate or channels differ from:";
    case 92: return "Complete; every block decodes:";
    case 93: return "file(s) complete";
    case 94: return "file(s) damaged or incomplete";
    case 95: return "The compressed file is incomplete (its header disagrees with its length):";
    case 96: return "The existing output is not a FLAC file; not replaced:";
    case 97: return "file(s) hold the same audio";
    case 98: return "file(s) differ";
    case 99: return "Converted, but after the output took its name:";
    case 38: return "Converted; chunks of the input that the compressed file cannot hold were not kept:";
    case 42: return "Converted; damaged chunks of the input were not kept:";
    case 10: return "The WAVE chunks kept in the compressed file are damaged and cannot be read; the audio is whole:";
    default: return "";
  }
}

}  // namespace nubo::converter
