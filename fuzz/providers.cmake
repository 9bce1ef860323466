# SPDX-License-Identifier: MIT
# The page providers' reading of request parameters.
if(TARGET vantrel_providers)
  vantrel_fuzz(providers SOURCE providers_fuzz.cpp DEPS vantrel_providers)
endif()
