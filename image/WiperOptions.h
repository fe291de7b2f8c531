#pragma once
// The twelve wiping options: items 0-10 are the wiper's options 1-11, item 11
// is "Disable mouse support". Stored between runs under HKEY_CURRENT_USER as
// REG_DWORD values "opt0" to "opt11". Captions and defaults come from
// image/WiperOptions.tsv, which the wiper is built from as well.

#include <array>
#include <optional>
#include <string>

constexpr int OptionCount = 12;
constexpr int DisableMouseOption = 11;

using TWiperOptions = std::array<bool, OptionCount>;

extern const char* const OptionCaptions[OptionCount];
extern const char* const OptionsRegistryKey;

TWiperOptions DefaultOptions();

// One '0'/'1' character per option, in option order.
std::string OptionString(const TWiperOptions& Options);

// Reads the stored states over Options. A key that cannot be opened leaves
// them as they are. A value of another type than a 32-bit number stops the
// loading: the answer is then the error text "Invalid data type for 'optN'"
// and the options read before it keep their stored states. A number other
// than 0 or 1 reads as checked and is reported as "Invalid value for 'optN'"
// once loading has finished.
std::optional<std::string> LoadOptions(TWiperOptions& Options);

// Writes all twelve states; the error text "Failed to set data for 'optN'"
// when a value could not be written.
std::optional<std::string> SaveOptions(const TWiperOptions& Options);

// The wizard's "Also start on UEFI PCs" choice for discs, stored beside the
// options as the REG_DWORD "uefi"; off when it is missing or unreadable.
extern const char* const UefiChoiceCaption;
bool LoadUefiChoice();
// The error text "Failed to set data for 'uefi'" when it could not be written.
std::optional<std::string> SaveUefiChoice(bool Checked);
