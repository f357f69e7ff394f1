#include "platform/prompt.h"

#include <atomic>
#include <cstdio>

namespace platform {

namespace {

class TStandardErrorPrompt : public TPrompt {
 public:
  void Message(const std::string& text, const std::string& title, TPromptIcon) override {
    std::fprintf(stderr, "%s%s%s\n", title.c_str(), title.empty() ? "" : ": ", text.c_str());
  }
  bool Question(const std::string& text, const std::string& title, TPromptIcon icon) override {
    Message(text + " (answered no)", title, icon);
    return false;
  }
};

TStandardErrorPrompt defaultPrompt;
std::atomic<TPrompt*> installed{nullptr};

}  // namespace

TPrompt& Prompt() {
  TPrompt* prompt = installed.load();
  return prompt ? *prompt : defaultPrompt;
}

void SetPrompt(TPrompt* prompt) { installed = prompt; }

void TScriptedPrompt::Message(const std::string& text, const std::string& title,
                              TPromptIcon icon) {
  std::lock_guard guard(lock_);
  shown_.push_back({"message", text, title, icon});
}

bool TScriptedPrompt::Question(const std::string& text, const std::string& title,
                               TPromptIcon icon) {
  std::lock_guard guard(lock_);
  shown_.push_back({"question", text, title, icon});
  if (answers_.empty()) return false;
  const bool yes = answers_.front();
  answers_.pop_front();
  return yes;
}

void TScriptedPrompt::Beep() {
  std::lock_guard guard(lock_);
  shown_.push_back({"beep", "", "", TPromptIcon::None});
}

void TScriptedPrompt::Answer(bool yes) {
  std::lock_guard guard(lock_);
  answers_.push_back(yes);
}

std::vector<TScriptedPrompt::TShown> TScriptedPrompt::Shown() const {
  std::lock_guard guard(lock_);
  return shown_;
}

std::vector<std::string> TScriptedPrompt::Texts() const {
  std::lock_guard guard(lock_);
  std::vector<std::string> texts;
  for (const TShown& s : shown_)
    if (s.kind != "beep") texts.push_back(s.text);
  return texts;
}

void TScriptedPrompt::Clear() {
  std::lock_guard guard(lock_);
  shown_.clear();
  answers_.clear();
}

TPromptScope::TPromptScope(TPrompt& prompt) : previous_(installed.exchange(&prompt)) {}

TPromptScope::~TPromptScope() { installed = previous_; }

}  // namespace platform
