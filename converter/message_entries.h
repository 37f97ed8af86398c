// SPDX-License-Identifier: BSD-3-Clause
// The messages of the programs, by id. An id is also the index of the
// message's entry in the definition files (NUBOCONV.h and its language
// variants), which override the English texts compiled in here; the
// converter names reasons by id and forms no text.
#pragma once

namespace nubo::converter {

enum Msg : int {

// Captions of the window.
  kEntryInputLabel = 40,
  kEntryOutputLabel = 41,
  kEntryHintEncode = 43,
  kEntryHintReencode = 44,
  kEntryCancelQuestion = 45,

// Progress lines ("<MB> <entry> <path>") of the jobs.
  kEntryProgressEncode = 46,
  kEntryProgressReencode = 47,
  kEntryProgressVerify = 48,
  kEntryProgressDecode = 72,

// Results, refusals and failures.
  kEntrySizeChange = 49,
  kEntryFinished = 50,
  kEntryNothingFound = 51,
  kEntryOutputExists = 52,
  kEntryCancelled = 53,
  kEntryRefused = 54,
  kEntryCountDone = 55,
  kEntryAlreadyCancelled = 56,
  kEntryStopped = 57,
  kEntryTooManyDirectories = 58,
  kEntryCannotCreate = 59,
  kEntryWildcardNeedsPattern = 60,
  kEntryWriteError = 61,
  kEntryEmpty = 62,
  kEntryCannotMakeDirectory = 63,
  kEntryNoOutput = 64,
  kEntryDamaged = 65,
  kEntryOutputIsInput = 66,
  kEntryVerifyFailed = 67,
  kEntryCountSkipped = 68,
  kEntryPathTooLong = 69,
  kEntryUnsupportedRate = 70,
  kEntryTooLarge = 71,

// Files passed over, refused or failed, one entry per reason; the path
// follows the text (status line 3 in the window), a system reason or a block
// position after it.
  kEntryNotRegular = 73,
  kEntryCannotReadDirectory = 74,
  kEntryCannotOpenInput = 75,
  kEntryAlreadyVersion22 = 76,
  kEntryNotCompressed = 77,
  kEntryNotPcmWave = 78,
  kEntryOutputIsRunInput = 79,
  kEntryExistingNotVersion22 = 80,
  kEntryExistingNotWave = 81,
  kEntrySameOutput = 82,
  kEntryExistingIncomplete = 83,
  kEntryInputIncomplete = 84,
  kEntryPartialKept = 85,
  kEntryCountFailed = 86,
  kEntryOutputChanged = 87,
  kEntryWordBlock = 88,
  kEntryWordOffset = 89,
  kEntryWaveSizeWrong = 90,
  kEntryFormatDiffers = 91,
  kEntryTestOk = 92,
  kEntryCountTested = 93,
  kEntryCountBad = 94,
  kEntryFileIncomplete = 95,
  kEntryExistingNotFlac = 96,
  kEntryCountSame = 97,
  kEntryCountDifferent = 98,
  kEntryCommitWarning = 99,
  // A FLAC input whose frames do not decode or disagree with its STREAMINFO
  // (an index left free before the captions).
  kEntryFlacDamaged = 39,
  // Chunks of an encoded input that its compressed file could not keep (a warning).
  kEntryChunksNotKept = 38,
  // Chunks of an encoded input that were damaged or cut short (a warning).
  kEntryChunksDamaged = 42,
  // A compressed file whose kept WAVE chunks cannot be read (a warning: the
  // audio is whole).
  kEntryKeptChunksDamaged = 10,
  // The count of incomplete inputs converted as far as they go (an index
  // left free before the captions).
  kEntryCountIncomplete = 9,
};

// Entries that only the window shows: the buttons and the title of the
// Cancel question, the failure to save the settings, the title of error
// messages and a language file passed over.
inline constexpr Msg kEntryYes = static_cast<Msg>(24);
inline constexpr Msg kEntryNo = static_cast<Msg>(25);
inline constexpr Msg kEntrySettingsNotSaved = static_cast<Msg>(26);
inline constexpr Msg kEntryQuestionTitle = static_cast<Msg>(27);
inline constexpr Msg kEntryErrorTitle = static_cast<Msg>(28);
inline constexpr Msg kEntryVariantPassedOver = static_cast<Msg>(29);

// The English text of message `id` ("" for an id that has none).
const char* englishText(int id);

}  // namespace nubo::converter
