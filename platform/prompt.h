// TPrompt: how code below the user interface tells the user something or asks a yes/no question
// ("Frame Size is not a valid value!", the 320x240 question, warnings). The GUI installs message
// boxes; the command-line front end its own terminal form; tests a scripted prompt. Without one
// installed, messages go to standard error and questions are answered "no".
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

enum class TPromptIcon { None, Information, Warning, Error, Question };

class TPrompt {
 public:
  virtual ~TPrompt() = default;
  // A message with an OK button; returns when the user has seen it.
  virtual void Message(const std::string& text, const std::string& title = "",
                       TPromptIcon icon = TPromptIcon::None) = 0;
  // A question with Yes and No; true for Yes.
  virtual bool Question(const std::string& text, const std::string& title = "",
                        TPromptIcon icon = TPromptIcon::Question) = 0;
  // The short sound that refuses a key.
  virtual void Beep() {}
};

// The prompt installed for the process (never null).
TPrompt& Prompt();
// Installs a prompt (not owned; it must outlive its use); null restores the default.
void SetPrompt(TPrompt* prompt);

// A prompt that records everything it is shown and answers questions from a script (then "no").
class TScriptedPrompt : public TPrompt {
 public:
  struct TShown {
    std::string kind;  // "message", "question" or "beep"
    std::string text, title;
    TPromptIcon icon = TPromptIcon::None;
  };
  void Message(const std::string& text, const std::string& title, TPromptIcon icon) override;
  bool Question(const std::string& text, const std::string& title, TPromptIcon icon) override;
  void Beep() override;
  // The answers the next questions get, in order.
  void Answer(bool yes);
  std::vector<TShown> Shown() const;
  // Texts of the messages and questions shown, in order (beeps left out).
  std::vector<std::string> Texts() const;
  void Clear();

 private:
  mutable std::mutex lock_;
  std::vector<TShown> shown_;
  std::deque<bool> answers_;
};

// Installs a prompt for a scope and restores the previous one.
class TPromptScope {
 public:
  explicit TPromptScope(TPrompt& prompt);
  ~TPromptScope();
  TPromptScope(const TPromptScope&) = delete;
  TPromptScope& operator=(const TPromptScope&) = delete;

 private:
  TPrompt* previous_;
};

}  // namespace platform
