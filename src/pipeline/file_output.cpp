// SPDX-License-Identifier: BSD-3-Clause
#include "pipeline/file_output.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "base/au_exception.h"
#include "base/failures.h"
#include "pipeline/file_stream.h"
#include "platform/file.h"
#include "platform/text.h"

namespace vornek {

TAuFileOut::~TAuFileOut() {
  // A run always ends with its Done; this only guards a file left by a descendant that
  // never closed it.
  if (!TemporaryFileName.empty()) {
    Stream.reset();
    platform::DeleteFileByName(TemporaryFileName);
  }
}

void TAuFileOut::SetFileName(const std::string& name) {
  WideFileName = platform::AnsiToWide(name);
  FileName = name;
}

void TAuFileOut::SetWideFileName(const std::u16string& name) {
  WideFileName = name;
  FileName = platform::WideToAnsi(name);
}

void TAuFileOut::OpenOutputFile() {
  if (WideFileName.empty()) Raise(TFailure::faOutputNameNotAssigned);
  TemporaryFileName.clear();
  if (OpenExisting && OpenExistingFile()) return;
  std::string failure;
  std::u16string temporary;
  platform::File file = platform::File::CreateBeside(WideFileName, temporary, failure);
  if (!file) Raise(TFailure::faFileFailure, {FileName, failure});
  TemporaryFileName = temporary;
  Stream = std::make_unique<TAuFileStream>(std::move(file), FileName);
}

void TAuFileOut::CloseOutputFile(bool keep) {
  if (!Stream) return;
  std::string failure;
  if (keep) {
    try {
      Stream->Flush();
    } catch (const std::exception& e) {
      failure = e.what();  // names the file already
      keep = false;
    }
  }
  Stream.reset();
  if (TemporaryFileName.empty()) {
    if (!failure.empty()) throw EAuException(failure);
    return;
  }
  const std::u16string temporary = std::move(TemporaryFileName);
  TemporaryFileName.clear();
  std::string move_failure;
  if (keep && !platform::MoveReplacing(temporary, WideFileName, move_failure)) {
    failure = FailureText(TFailure::faFileFailure, {FileName, move_failure});
    keep = false;
  }
  if (!keep) platform::DeleteFileByName(temporary);
  if (!failure.empty()) throw EAuException(failure);
}

// ---------------------------------------------------------------------------------
// The rest of the component interface: nothing in Vornek sets OpenExisting.

bool TAuFileOut::OpenExistingFile() {
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::path(WideFileName), error)) return false;
  try {
    Stream = std::make_unique<TAuFileStream>(WideFileName, static_cast<std::uint16_t>(ShareMode | 2), Rights);
  } catch (const std::exception& e) {
    Raise(TFailure::faFileFailure, {FileName, e.what()});
  }
  return true;
}

}  // namespace vornek
