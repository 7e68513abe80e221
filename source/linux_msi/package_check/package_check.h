// Damaged packages and libmsi.
//
// libmsi, and libgsf beneath it, trust the file they read: a damaged package
// (bytes flipped, blocks zeroed, cut short) can dereference null or read past
// a buffer inside them, in the compound-file reader, the string pool and table
// loader (the SQL parser looks columns up there) and the summary-information
// reader. Every file is therefore read once by a helper process, which runs
// every read the stand-in can make on a database (see ExercisePackageFile);
// libmsi gets the file in this process only when the helper came through. A
// crash, a hang (the helper has a time limit) or a helper that cannot run all
// mean "unreadable": the caller gets ERROR_OPEN_FAILED, the engine
// ERROR_INSTALL_PACKAGE_INVALID, and the diagnostic sink a line saying why.
//
// Why a helper rather than checking the file's structure here: the crashes are
// in two libraries we do not own, at many places (a mutation loop found three
// sites; there is no telling how many more), and some damage makes libgsf loop.
// A check of our own would have to be exactly as strict as every path of both
// libraries, and would still miss what it did not foresee; the helper is proof
// by running the libraries themselves, hangs included, in ~15 ms per file.
//
// Verdicts are cached per file identity (device, inode, size, modification and
// change times), so the usual pattern - one package opened again and again -
// pays once. A file that changes gets a new identity and is checked again. Time
// stamps are coarse, so a change within the same tick could keep size and times:
// for a file changed less than two seconds ago, a hash of its content is part of
// the identity. A file rewritten while it is checked or while libmsi reads it is
// beyond the check. A database being created (MSIDBOPEN_CREATE) holds nothing to
// read and is not checked; one opened for writing is checked as it stands, and
// the file a commit writes is checked at its next open, like any changed file.
#pragma once

#include <string>

namespace linux_msi {

// Whether libmsi may open the package at `path` (UTF-8): the verdict cached for
// the file as it is now, or the helper's. A file that does not exist or is not a
// regular file is left to libmsi, which refuses it itself. Thread-safe.
bool MayReadPackageFile(const std::string& path);

// The helper's side. It reads everything the stand-in can read on that file
// through the stand-in's own functions: the database read-only and as a patch,
// its summary information, every table's rows and fields, every stream, the
// primary keys, and the engine's table reads and cabinet copies. Returns
// normally unless libmsi crashes or hangs; what the reads answer does not matter.
void ExercisePackageFile(const std::string& path);

// For the helper process alone: files open without a check (it is the check).
void TrustPackageFilesInThisProcess();

}  // namespace linux_msi
