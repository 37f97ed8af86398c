# SPDX-License-Identifier: BSD-3-Clause
# cmake -DIN=FILE -DOUT=FILE -P crlf.cmake: copies a text file with CR LF line
# ends (for the Windows zip: Notepad before Windows 10 shows LF-only files as
# one line).
file(READ ${IN} text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
