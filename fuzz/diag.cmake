# SPDX-License-Identifier: MIT
vantrel_fuzz(smtp_reply SOURCE smtp_reply_fuzz.cpp DEPS vantrel_diag)
vantrel_fuzz(port_mapping_reply SOURCE port_mapping_reply_fuzz.cpp DEPS vantrel_diag)
