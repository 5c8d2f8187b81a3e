// SPDX-License-Identifier: BSD-3-Clause
#include "tags/vorbis_tags.h"

namespace vornek {

TVorbisTags::TVorbisTags() {
  for (const char* key : kVorbisKeys) AddKey(key, TVarNull{});
}

}  // namespace vornek
