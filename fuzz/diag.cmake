# SPDX-License-Identifier: MIT
vantrel_fuzz(smtp_reply SOURCE smtp_reply_fuzz.cpp DEPS vantrel_diag)
