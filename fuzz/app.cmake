# SPDX-License-Identifier: MIT
if(TARGET vantrel_app)
  vantrel_fuzz(app_command_line SOURCE app_command_line_fuzz.cpp DEPS vantrel_app)
endif()
if(TARGET vantrel_app)
  vantrel_fuzz(update_signature SOURCE update_signature_fuzz.cpp DEPS vantrel_app)
endif()
