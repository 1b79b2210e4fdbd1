// Rewriting a settings file in place (its directory does not let the writer
// replace it) so that it is never left torn.
//
// The old and the new content are first recorded in a journal in the
// writer's private directory. Room for a longer content is made before a
// byte of the old one is overwritten, so a full disk fails the write with the
// file as it was. A rewrite cut short by the end of the process is completed
// by the next access of the same user, but only while the file still holds
// what that rewrite leaves on its way (the old content, partly overwritten
// with the new): a file changed since then (another user stored a setting)
// keeps that change, and the journal is dropped.
#pragma once

#include <string>

namespace orvo::platform::profile_journal {

// Rewrites the existing `target` from `old` (its content now, read in the
// writer's turn) to `data`. False, with the reason and the path in *error,
// when the file could not be rewritten; it then holds `old` again.
bool RewriteInPlace(const std::string& target, const std::string& old, const std::string& data,
                    std::string* error);

// A journal of an unfinished rewrite of `target` is there.
bool RewritePending(const std::string& target);

// Completes (or drops) an unfinished rewrite of `target`. The caller has the
// writer's turn on the file.
void FinishInterruptedRewrite(const std::string& target);

}  // namespace orvo::platform::profile_journal
