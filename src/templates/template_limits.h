// SPDX-License-Identifier: MIT
#pragma once
// The bounds of the template language in one place. The call depth and the loop
// budget belong to the language; the others keep one page from exhausting the
// stack or the memory of the connection thread that renders it.
//
// Stack: parsing and running recurse only over nesting that these bounds
// limit (expression depth, statement blocks, template calls), so a rendering
// never needs more than kRenderStackBytes of stack. Threads that render pages
// must be created with at least that much.

#include <cstddef>
#include <cstdint>

namespace vantrel::templates {

// Passes every "while" statement may make before it stops by itself.
inline constexpr int kLoopBudget = 1000;
// Active template calls, the top template included.
inline constexpr int kMaxCallDepth = 101;
// "while" statements nested in one template.
inline constexpr int kMaxWhileNesting = 2;

// Depth of an expression tree, and of the parser's recursion over it; an
// expression nested deeper does not parse.
inline constexpr int kMaxExpressionDepth = 96;
// Statement blocks ("if", "while", "setoutput") nested in one template or in
// one piece of code run by "execute".
inline constexpr int kMaxBlockDepth = 16;

// Longest string value a rendering may build.
inline constexpr size_t kMaxStringLength = size_t{64} << 20;
// Bytes of strings one rendering may build in all (concatenation, text of
// numbers, code handed to "execute"); bounds both memory and time.
inline constexpr size_t kStringWorkBudget = size_t{256} << 20;
// Largest page a rendering may write.
inline constexpr size_t kMaxPageLength = size_t{64} << 20;

// Stack that one rendering may use at the bounds above, with a margin; a test
// measures the worst case. Sanitizer builds have much larger frames.
#if defined(__SANITIZE_ADDRESS__)
#define VANTREL_TEMPLATES_BIG_FRAMES 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VANTREL_TEMPLATES_BIG_FRAMES 1
#endif
#endif
#ifdef VANTREL_TEMPLATES_BIG_FRAMES
inline constexpr size_t kRenderStackBytes = size_t{8} << 20;
#else
inline constexpr size_t kRenderStackBytes = size_t{1} << 20;
#endif

}  // namespace vantrel::templates
