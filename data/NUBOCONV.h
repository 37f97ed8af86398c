/* NUBOCONV.h: texts and layout of the nubo format converter (English).
   A text:   #define NAME index /*text*/   (\\ \n \r escapes)
   A layout: // type, style, x, y, width, height   for the index above it
   type 0 static, 1 button, 2 edit, 3 list box; x and width in tenths of a
   character, y in units of 0.14 line, height in tenths of a line. */

#define NUBO_EMPTY 62 /**/
#define NUBO_LANGUAGE 0 /*Deutsch*/
// 1, 0x50010000, 860, 0, 120, 14
#define NUBO_HEADING 1 /*nubo: lossless 16-bit audio, upgrade of old compressed files*/
// 0, 0x50000000, 20, 1, 800, 10
#define NUBO_JOB_GROUP 5 /*Job*/
// 1, 0x50020007, 20, 10, 960, 30
#define NUBO_JOB_ENCODE 2 /*Encode WAVE*/
// 1, 0x50030009, 60, 19, 180, 12
#define NUBO_JOB_ENCODE_VERIFY 3 /*Encode and verify*/
// 1, 0x50010009, 240, 19, 210, 12
#define NUBO_JOB_REENCODE 4 /*Re-encode to version 22*/
// 1, 0x50010009, 450, 19, 290, 12
#define NUBO_INPUT_LABEL 14 /*Input*/
// 0, 0x50000002, 20, 41, 100, 10
#define NUBO_INPUT_FIELD 12 /**/
// 2, 0x50810080, 130, 40, 700, 14
#define NUBO_INPUT_BROWSE 11 /*Browse...*/
// 1, 0x50010000, 840, 40, 140, 14
#define NUBO_OPTION_SUBDIRS 13 /*Include subdirectories*/
// 1, 0x50010003, 130, 52, 500, 12
#define NUBO_OUTPUT_LABEL 15 /*Output*/
// 0, 0x50000002, 20, 66, 100, 10
#define NUBO_OUTPUT_FIELD 17 /**/
// 2, 0x50810080, 130, 65, 700, 14
#define NUBO_OUTPUT_BROWSE 16 /*Browse...*/
// 1, 0x50010000, 840, 65, 140, 14
#define NUBO_OPTION_OVERWRITE 18 /*Overwrite existing output files*/
// 1, 0x50010003, 130, 77, 500, 12
#define NUBO_OPTION_BEST 20 /*Smallest files (slower)*/
// 1, 0x50010003, 640, 77, 340, 12
#define NUBO_HINT 19 /**/
// 0, 0x50000000, 130, 89, 850, 30
#define NUBO_START 21 /*Start*/
// 1, 0x50010001, 130, 112, 140, 16
#define NUBO_EXIT 22 /*Exit*/
// 1, 0x50010000, 290, 112, 140, 16
#define NUBO_CANCEL 23 /*Cancel*/
// 1, 0x50010000, 450, 112, 140, 16
#define NUBO_STATUS1 31 /**/
// 0, 0x50800000, 20, 129, 960, 12
#define NUBO_STATUS2 32 /**/
// 0, 0x50800000, 20, 139, 960, 12
#define NUBO_STATUS3 33 /**/
// 0, 0x50800000, 20, 149, 960, 12
#define NUBO_NOT_CONVERTED_CAPTION 35 /*Files not converted, incomplete or converted with a warning:*/
// 0, 0x50000000, 20, 161, 960, 10
#define NUBO_NOT_CONVERTED_LIST 34 /**/
// 3, 0x50B10100, 20, 170, 960, 56
#define NUBO_MSG_NOT_BEGUN 36 /*Not begun (the conversion stopped first):*/
#define NUBO_MSG_RUN_PROGRESS 37 /*{share} % - {time} left*/
#define NUBO_MSG_STOPPED_DURING 30 /*Stopped during the conversion; not converted:*/
#define NUBO_MSG_INPUT 40 /*Input:*/
#define NUBO_MSG_OUTPUT 41 /*Output:*/
#define NUBO_MSG_HINT_ENCODE 43 /*Input: PCM WAVE file, directory/ or pattern; *.* is every file. Output: file, directory/, name* or *.* (the input's name with the extension .NAB), or name! (a ! toggled before the extension). An output that would be its input takes E for its last capital A (TAKE.NAB -> TAKE.NEB).*/
#define NUBO_MSG_HINT_REENCODE 44 /*Input: .NAB file, directory/ or pattern; *.* is every file. Output: file, directory/, name* or *.* (the input's name with the extension .NAB), or name! (a ! toggled before the extension). An output that would be its input takes E for its last capital A (TAKE.NAB -> TAKE.NEB).*/
#define NUBO_MSG_CANCEL_QUESTION 45 /*Stop the conversion after the current block?*/
#define NUBO_MSG_YES 24 /*Yes*/
#define NUBO_MSG_NO 25 /*No*/
#define NUBO_MSG_SETTINGS_NOT_SAVED 26 /*The settings could not be saved:*/
#define NUBO_MSG_QUESTION_TITLE 27 /*Cancel*/
#define NUBO_MSG_ERROR_TITLE 28 /*Error*/
#define NUBO_MSG_VARIANT_PASSED_OVER 29 /*This language file cannot be used and is passed over:*/
#define NUBO_MSG_PROGRESS_ENCODE 46 /*MB encoded:*/
#define NUBO_MSG_PROGRESS_REENCODE 47 /*MB re-encoded:*/
#define NUBO_MSG_PROGRESS_VERIFY 48 /*MB verified:*/
#define NUBO_MSG_SIZE_CHANGE 49 /* % size change: */
#define NUBO_MSG_FINISHED 50 /*Finished.*/
#define NUBO_MSG_NO_INPUT 51 /*No input file found.*/
#define NUBO_MSG_OUTPUT_EXISTS 52 /*Output file exists, not converted:*/
#define NUBO_MSG_CANCELLING 53 /*Stopping after the current block...*/
#define NUBO_MSG_REFUSED 54 /*Not possible while a conversion is running.*/
#define NUBO_MSG_COUNT_DONE 55 /*file(s) converted*/
#define NUBO_MSG_CANCEL_PENDING 56 /*Stopping; please wait for the current block.*/
#define NUBO_MSG_STOPPED 57 /*Conversion stopped.*/
#define NUBO_MSG_TOO_MANY_DIRS 58 /*Too many subdirectories: conversion stopped.*/
#define NUBO_MSG_CANNOT_CREATE 59 /*Cannot create the output file:*/
#define NUBO_MSG_WILDCARD_OUTPUT 60 /*Several input files need an output directory/, name* or name!*/
#define NUBO_MSG_WRITE_ERROR 61 /*Cannot write the output file:*/
#define NUBO_MSG_CANNOT_MKDIR 63 /*Cannot create the output directory:*/
#define NUBO_MSG_NO_OUTPUT 64 /*Please enter an output file or directory.*/
#define NUBO_MSG_DAMAGED_INPUT 65 /*The input file is damaged (a block cannot be decoded):*/
#define NUBO_MSG_OUTPUT_IS_INPUT 66 /*The output would overwrite the input; not converted:*/
#define NUBO_MSG_VERIFY_FAILED 67 /*Verify failed: the decoded audio differs from:*/
#define NUBO_MSG_COUNT_SKIPPED 68 /*skipped (output existed)*/
#define NUBO_MSG_PATH_TOO_LONG 69 /*Path longer than 299 characters; not converted:*/
#define NUBO_MSG_UNSUPPORTED_RATE 70 /*Unsupported sample rate (more than 2047 samples per block); not converted:*/
#define NUBO_MSG_TOO_LARGE 71 /*The output would pass the 4 GiB limit of the file format; stopped:*/
#define NUBO_MSG_PROGRESS_DECODE 72 /*MB decoded:*/

#define NUBO_MSG_NOT_REGULAR 73 /*Not a regular file (a FIFO, socket or device); not converted:*/
#define NUBO_MSG_CANNOT_READ_DIR 74 /*Cannot read the directory:*/
#define NUBO_MSG_CANNOT_OPEN_INPUT 75 /*Cannot open the input file:*/
#define NUBO_MSG_ALREADY_V22 76 /*Already coder version 22; not converted:*/
#define NUBO_MSG_NOT_COMPRESSED 77 /*Not a compressed (.NAB) file; not converted:*/
#define NUBO_MSG_NOT_PCM_WAVE 78 /*Not a 16-bit PCM WAVE file; not converted:*/
#define NUBO_MSG_OUTPUT_IS_RUN_INPUT 79 /*The output is an input of this run; not converted:*/
#define NUBO_MSG_EXISTING_NOT_V22 80 /*The existing output is not a version-22 compressed file; not replaced:*/
#define NUBO_MSG_EXISTING_NOT_WAVE 81 /*The existing output is not a WAVE file; not replaced:*/
#define NUBO_MSG_SAME_OUTPUT 82 /*Another input of this run writes the same output; not converted:*/
#define NUBO_MSG_EXISTING_INCOMPLETE 83 /*The existing output is incomplete; not converted:*/
#define NUBO_MSG_INPUT_INCOMPLETE 84 /*The input file is incomplete (its header disagrees with its length); converted as far as it goes:*/
#define NUBO_MSG_PARTIAL_KEPT 85 /*partial output kept as*/
#define NUBO_MSG_COUNT_FAILED 86 /*file(s) not converted*/
#define NUBO_MSG_COUNT_INCOMPLETE 9 /*file(s) incomplete*/
#define NUBO_MSG_OUTPUT_CHANGED 87 /*The output appeared or changed during the conversion; not replaced:*/
#define NUBO_MSG_WORD_BLOCK 88 /*block*/
#define NUBO_MSG_WORD_OFFSET 89 /*byte offset*/
#define NUBO_MSG_WAVE_SIZE_WRONG 90 /*The WAVE header's data size is wrong; the audio was read to the end of the file:*/
#define NUBO_MSG_FORMAT_DIFFERS 91 /*Verify failed: the WAVE file's sample rate or channels differ from:*/
#define NUBO_MSG_TEST_OK 92 /*Complete; every block decodes:*/
#define NUBO_MSG_COUNT_TESTED 93 /*file(s) complete*/
#define NUBO_MSG_COUNT_BAD 94 /*file(s) damaged or incomplete*/
#define NUBO_MSG_FILE_INCOMPLETE 95 /*The compressed file is incomplete (its header disagrees with its length):*/
#define NUBO_MSG_EXISTING_NOT_FLAC 96 /*The existing output is not a FLAC file; not replaced:*/
#define NUBO_MSG_COUNT_SAME 97 /*file(s) hold the same audio*/
#define NUBO_MSG_COUNT_DIFFERENT 98 /*file(s) differ*/
#define NUBO_MSG_COMMIT_WARNING 99 /*Converted, but after the output took its name:*/
#define NUBO_MSG_FLAC_DAMAGED 39 /*The FLAC file is damaged or disagrees with its STREAMINFO; not converted:*/
#define NUBO_MSG_CHUNKS_NOT_KEPT 38 /*Converted; chunks of the input that the compressed file cannot hold were not kept:*/
#define NUBO_MSG_CHUNKS_DAMAGED 42 /*Converted; damaged chunks of the input were not kept:*/
#define NUBO_MSG_KEPT_CHUNKS_DAMAGED 10 /*The WAVE chunks kept in the compressed file are damaged and cannot be read; the audio is whole:*/
