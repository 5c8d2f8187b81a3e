// SPDX-License-Identifier: BSD-3-Clause
#include "pipeline/file_output.h"

#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "base/au_exception.h"
#include "base/failures.h"
#include "pipeline/file_stream.h"
#include "platform/file.h"
#include "platform/text.h"

namespace vornek {

TAuFileOut::~TAuFileOut() = default;

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
  NewFile = nullptr;
  AttributeWarning.clear();
  if (OpenExisting && OpenExistingFile()) return;
  // (A folder at the name is refused as such below, whatever this setting.)
  if (!ReplaceExisting && platform::Exists(WideFileName) && !platform::IsFolder(WideFileName))
    Raise(TFailure::faOutputExists, FileName);
  std::string failure;
  platform::File file = platform::File::CreateFor(WideFileName, AttributesFrom, failure);
  if (!file) Raise(TFailure::faFileFailure, {FileName, failure});
  auto stream = std::make_unique<TAuFileStream>(std::move(file), FileName);
  NewFile = stream.get();
  Stream = std::move(stream);
}

void TAuFileOut::CloseOutputFile(bool keep) {
  if (!Stream) return;
  TAuFileStream* const new_file = std::exchange(NewFile, nullptr);
  std::string failure;
  if (keep) {
    try {
      if (new_file != nullptr) {
        const std::string warning = new_file->PutInPlace(WideFileName, AttributesFrom, ReplaceExisting);
        if (!warning.empty()) AttributeWarning = FailureText(TFailure::faAttributesNotKept, {FileName, warning});
      } else {
        Stream->Flush();
      }
    } catch (const std::exception& e) {
      failure = e.what();  // names the file already
      // A file put at the name while this one was written is left alone too.
      if (new_file != nullptr && !ReplaceExisting && platform::Exists(WideFileName))
        failure = FailureText(TFailure::faOutputExists, FileName);
    }
  }
  Stream.reset();  // a new file that was not put in place goes with it
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
