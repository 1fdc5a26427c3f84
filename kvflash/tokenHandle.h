// The heap cell behind a kvflash_TokenImpl_* handle.
#pragma once

#include "token.h"

#include <kvflash-core/kvflash.h>

#include <memory>

struct kvflash_TokenImpl_ {
    std::unique_ptr<kvfl::Token> token;
};
