// ThraskVellViewModel: the one object through which the control surface shows and edits the twelve
// parameters. It keeps a displayed copy of every value (`params`), follows changes made elsewhere
// (host automation, restored state) by observing the parameter tree, and writes the user's edits
// back into the tree.
//
// Ownership: created as a shared object by whoever builds the editor (make()); it holds its
// parameter source strongly. The tree observer reaches it only weakly, through a coalescing main
// thread mailbox, so the tree never keeps it alive and a delivery after its destruction does
// nothing. Destruction removes the observer.
//
// Threads: main for everything (construction, reads, writes, destruction). The tree observer runs
// on whatever thread writes a parameter (the host's audio thread included): it only posts to the
// mailbox, which neither allocates nor blocks, and the change is applied on the main thread.
#pragma once

#include "parameters/ThraskVellParameterSource.h"
#include "platform/MainThreadQueue.h"
#include "platform/Observable.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace thraskvell {

class ThraskVellViewModel : public ObservableObject,
                            public std::enable_shared_from_this<ThraskVellViewModel> {
public:
    using ParameterMap = std::map<std::string, float, std::less<>>;

    // An outside change must move a value by more than this to be shown; it also silences the echo
    // of the view model's own writes.
    static constexpr float kChangeTolerance = 0.001f;

    // Main. Fills `params` from the placeholders, then from the source's tree, and observes that
    // tree; without a tree the placeholders stay and nothing is observed.
    static std::shared_ptr<ThraskVellViewModel> make(std::shared_ptr<ThraskVellParameterSource> source,
                                                     MainThreadQueue& queue = MainThreadQueue::main());
    // Main.
    ~ThraskVellViewModel();

    // Main. The displayed value, 0 for an identifier that is not a key.
    float value(std::string_view identifier) const;
    // Main. Stores the value for display (announcing the change even when equal), then sets it on the
    // tree parameter of that identifier, if there is a tree and such a parameter.
    void setParameterValue(std::string_view identifier, float value);

    // Main.
    const ParameterMap& params() const { return _params.get(); }
    const std::optional<AUParameterObserverToken>& observerToken() const { return _observerToken; }
    const std::shared_ptr<ThraskVellParameterSource>& parameterSource() const { return _parameterSource; }

    // The defaults of the parameter table, shown until the tree has been read. Any.
    static ParameterMap placeholders();

private:
    struct Token {};

public:
    // Use make(); the token keeps construction to it while std::make_shared can still reach it.
    ThraskVellViewModel(Token, std::shared_ptr<ThraskVellParameterSource> source, MainThreadQueue& queue);

private:
    void installObserver(const std::shared_ptr<AUParameterTree>& tree);
    // Main: an outside change reported by the tree.
    void applyTreeChange(AUParameterTree& tree, AUParameterAddress address, float value);

    std::shared_ptr<ThraskVellParameterSource> _parameterSource;
    std::optional<AUParameterObserverToken> _observerToken;
    // The tree the observer was installed on: removal must reach that tree even if the source has
    // since swapped or dropped its own.
    std::weak_ptr<AUParameterTree> _observedTree;
    Published<ParameterMap> _params;
    std::unique_ptr<MainThreadQueue::Mailbox> _mailbox;
};

} // namespace thraskvell
