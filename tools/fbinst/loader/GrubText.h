#pragma once
// Text as it goes into the loader's config: one safe GRUB word, and menu text made valid UTF-8.

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace vornel::fbinst::loader {

// One GRUB word that the config's lexer reads back as exactly `text`: single quotes, inside
// which nothing is special but the quote itself (closed, escaped, reopened).
std::string GrubQuote(std::string_view text);

// `text` with every "@name@" marker of `fills` replaced by its lines, for GRUB scripts written
// whole with markers where generated lines go. A marker stands on a line of its own, whose end
// ends the fill too: a fill's own last line break is dropped.
std::string FillIn(std::string_view text,
                   std::initializer_list<std::pair<std::string_view, std::string_view>> fills);

// Menu text fit for the screen: valid UTF-8 stays; anything else is taken as GB18030 (a GBK
// menu), and bytes that are neither become U+FFFD. Control characters become blanks. Text longer
// than kMenuTextLimit bytes is cut there, at a character's start, so that GRUB's reader (which
// stops at a word of 8 KiB, with no menu at all) always takes it, quotes included.
inline constexpr std::size_t kMenuTextLimit = 1024;
std::string MenuText(std::string_view raw);

} // namespace vornel::fbinst::loader
