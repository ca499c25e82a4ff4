#pragma once
#include <cstdint>
#include <optional>

namespace rivak {

// The six check boxes of the main window, in their caption order:
// Check1 clear read-only, Check2 set read-only, Check3 set hidden,
// Check4 clear hidden, Check5 follow shortcuts, Check6 leave folders alone.
enum class Option { Check1, Check2, Check3, Check4, Check5, Check6 };

// Check-box values: 0 unchecked, 1 checked, 2 greyed.
inline constexpr int kUnchecked = 0;
inline constexpr int kChecked = 1;

// Where the engine reads an option: at the moment it needs it outside a
// batch, once at the start of a batch (OptionSnapshot).
class OptionSource {
public:
    virtual ~OptionSource() = default;
    virtual int Value(Option option) const = 0;
};

int DefaultValue(Option option);

// The six values of another source, read once. A batch handles no input
// while it runs, so the boxes cannot change under it; reading them once
// spares a window message per option and entry.
class OptionSnapshot final : public OptionSource {
public:
    OptionSnapshot() = default;
    explicit OptionSnapshot(const OptionSource& from) {
        for (int i = 0; i < 6; ++i) values_[i] = from.Value(static_cast<Option>(i));
    }
    int Value(Option option) const override { return values_[static_cast<int>(option)]; }

private:
    int values_[6] = {};
};

// The options a fresh start has: clear read-only, clear hidden, follow
// shortcuts, rewrite folders too. A command-line batch always uses these.
class DefaultOptions final : public OptionSource {
public:
    int Value(Option option) const override { return DefaultValue(option); }
};

using AttributeWord = std::uint32_t;

// The rewrite of one attribute word, each step only when its option is
// exactly 1: AND 62, OR 1, OR 2, AND 61, in this order.
AttributeWord RewriteWord(AttributeWord word, const OptionSource& options);

// The exclusive pairs Check1/Check2 and Check3/Check4: after a click on one
// of them, the box to set to 0, if any. Nothing for Check5 and Check6, and
// nothing when the clicked box is not 1, so clearing a partner (which may
// raise the partner's own click) never bounces back.
std::optional<Option> PartnerToClear(Option clicked, int newValue);

}  // namespace rivak
