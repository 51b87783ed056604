// A PDF copy of the saved report, written by the office suite's converter.
//
// The converter runs as its own process group with a private, temporary
// profile folder (so that a desktop session's office instance neither takes
// the job over nor has its profile touched) whose settings let no macro run
// and fetch nothing a document links to. Its input is a private copy of the
// saved report in a temporary folder only this user may enter, where its
// output goes too, and a time limit kills the whole group. The finished PDF
// is copied beside its name as a working copy and renamed over the name
// last, so an earlier PDF stays whole when the conversion fails.
#pragma once

#include <chrono>
#include <string>

#include "base/output_file.h"

#include "base/run_stop.h"

namespace vantrelle {

/// The converter program looked up on PATH.
inline constexpr char kPdfConverter[] = "soffice";
/// The Debian package that provides it, named when it is missing.
inline constexpr char kPdfConverterPackage[] = "libreoffice-writer-nogui";
/// How long a conversion may take unless VANTRELLE_PDF_TIMEOUT says otherwise.
inline constexpr std::chrono::seconds kDefaultPdfTimeout{180};

/// The time limit for one conversion: VANTRELLE_PDF_TIMEOUT in whole seconds
/// (1 or more) when set to such a number, else kDefaultPdfTimeout.
std::chrono::seconds PdfTimeout();

/// Removes the conversions' scratch folders in TMPDIR (or /tmp) that a run
/// which is gone left behind, killing whatever converter still uses them.
/// Only this user's, and only those no run holds.
void RemoveStaleConversions();

/// The full path of \a program in the folders of \a path_list (PATH's
/// syntax; an empty entry is the current folder), or "" when none of them
/// holds an executable file of that name.
std::string FindProgram(const std::string& program, const std::string& path_list);

/// Converts the document \a report, read from \a report_file (open for
/// reading; read from its start, its offset untouched), into the PDF file
/// \a pdf (its folder opened ahead), replacing an earlier file of that name only once the new one is
/// complete. Throws Error with the reason (converter missing, failed, timed
/// out, file not writable), RunStopped when \a stop is requested meanwhile;
/// nothing is then left behind and an earlier PDF is unchanged.
void ExportPdf(const std::string& report, int report_file, const OutputFolder& pdf,
               std::chrono::seconds timeout, const RunStop* stop = nullptr);

}  // namespace vantrelle
