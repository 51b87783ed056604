// A PDF copy of the saved report, written by the office suite's converter.
//
// The converter runs as its own process group with a private, temporary
// profile folder (so that a desktop session's office instance neither takes
// the job over nor has its profile touched), its input and output in a
// temporary folder, and a time limit after which the whole group is killed.
// The finished PDF is copied beside its name as a working copy and renamed
// over the name last, so an earlier PDF stays whole when the conversion fails.
#pragma once

#include <chrono>
#include <string>

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

/// The full path of \a program in the folders of \a path_list (PATH's
/// syntax; an empty entry is the current folder), or "" when none of them
/// holds an executable file of that name.
std::string FindProgram(const std::string& program, const std::string& path_list);

/// Converts the document \a report into the PDF file \a pdf, replacing an
/// earlier file of that name only once the new one is complete. Throws Error
/// with the reason (converter missing, failed, timed out, file not
/// writable); nothing is then left behind and an earlier PDF is unchanged.
void ExportPdf(const std::string& report, const std::string& pdf, std::chrono::seconds timeout);

}  // namespace vantrelle
