// SPDX-License-Identifier: BSD-3-Clause
// Indexes of the message table entries (the texts of NUBOCONV.h and its
// language variants) that the program shows. Both front ends and the
// converter take their texts by these indexes, so one list keeps them apart.
#pragma once

namespace nubo::converter {

// Captions of the window.
inline constexpr int kEntryInputLabel = 40;
inline constexpr int kEntryOutputLabel = 41;
inline constexpr int kEntryHintEncode = 43;
inline constexpr int kEntryHintReencode = 44;
inline constexpr int kEntryCancelQuestion = 45;

// Progress lines ("<MB> <entry> <path>") of the jobs.
inline constexpr int kEntryProgressEncode = 46;
inline constexpr int kEntryProgressReencode = 47;
inline constexpr int kEntryProgressVerify = 48;
inline constexpr int kEntryProgressDecode = 72;

// Results, refusals and failures.
inline constexpr int kEntrySizeChange = 49;
inline constexpr int kEntryFinished = 50;
inline constexpr int kEntryNothingFound = 51;
inline constexpr int kEntryOutputExists = 52;
inline constexpr int kEntryCancelled = 53;
inline constexpr int kEntryRefused = 54;
inline constexpr int kEntryCountDone = 55;
inline constexpr int kEntryAlreadyCancelled = 56;
inline constexpr int kEntryStopped = 57;
inline constexpr int kEntryTooManyDirectories = 58;
inline constexpr int kEntryCannotCreate = 59;
inline constexpr int kEntryWildcardNeedsPattern = 60;
inline constexpr int kEntryWriteError = 61;
inline constexpr int kEntryEmpty = 62;
inline constexpr int kEntryCannotMakeDirectory = 63;
inline constexpr int kEntryNoOutput = 64;
inline constexpr int kEntryDamaged = 65;
inline constexpr int kEntryOutputIsInput = 66;
inline constexpr int kEntryVerifyFailed = 67;
inline constexpr int kEntryCountSkipped = 68;
inline constexpr int kEntryPathTooLong = 69;
inline constexpr int kEntryUnsupportedRate = 70;
inline constexpr int kEntryTooLarge = 71;

// Files passed over, refused or failed, one entry per reason; the path
// follows the text (status line 3 in the window), a system reason or a block
// position after it.
inline constexpr int kEntryNotRegular = 73;
inline constexpr int kEntryCannotReadDirectory = 74;
inline constexpr int kEntryCannotOpenInput = 75;
inline constexpr int kEntryAlreadyVersion22 = 76;
inline constexpr int kEntryNotCompressed = 77;
inline constexpr int kEntryNotPcmWave = 78;
inline constexpr int kEntryOutputIsRunInput = 79;
inline constexpr int kEntryExistingNotVersion22 = 80;
inline constexpr int kEntryExistingNotWave = 81;
inline constexpr int kEntrySameOutput = 82;
inline constexpr int kEntryExistingIncomplete = 83;
inline constexpr int kEntryInputIncomplete = 84;
inline constexpr int kEntryPartialKept = 85;
inline constexpr int kEntryCountFailed = 86;
inline constexpr int kEntryOutputChanged = 87;
inline constexpr int kEntryWordBlock = 88;
inline constexpr int kEntryWordOffset = 89;
inline constexpr int kEntryWaveSizeWrong = 90;
inline constexpr int kEntryFormatDiffers = 91;
inline constexpr int kEntryTestOk = 92;
inline constexpr int kEntryCountTested = 93;
inline constexpr int kEntryCountBad = 94;
inline constexpr int kEntryFileIncomplete = 95;
inline constexpr int kEntryExistingNotFlac = 96;
inline constexpr int kEntryCountSame = 97;
inline constexpr int kEntryCountDifferent = 98;
inline constexpr int kEntryCommitWarning = 99;

}  // namespace nubo::converter
