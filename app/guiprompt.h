// TMessageBoxPrompt: the desktop program's answer to platform::Prompt(): messages and questions as
// modal message boxes over the active window, beeps through the desktop. Installed by main() for
// the life of the program.
#pragma once

#include "platform/prompt.h"

namespace app {

class TMessageBoxPrompt : public platform::TPrompt {
 public:
  void Message(const std::string& text, const std::string& title,
               platform::TPromptIcon icon) override;
  bool Question(const std::string& text, const std::string& title,
                platform::TPromptIcon icon) override;
  void Beep() override;
};

}  // namespace app
