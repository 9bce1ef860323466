# SPDX-License-Identifier: MIT
# The switches the launcher and the client share, and an update's signature file.
if(TARGET vantrel_launcher)
  vantrel_fuzz(app_command_line SOURCE app_command_line_fuzz.cpp DEPS vantrel_launcher)
endif()
if(TARGET vantrel_launcher_update)
  vantrel_fuzz(update_signature SOURCE update_signature_fuzz.cpp DEPS vantrel_launcher_update)
endif()
