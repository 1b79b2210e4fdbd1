// Seams of the settings writer for tests of an interrupted rewrite.
#pragma once

namespace orvo::platform::test_hooks {

// Called by a rewrite in place once half of the new content is written.
extern void (*g_afterHalfRewrite)();

}  // namespace orvo::platform::test_hooks
