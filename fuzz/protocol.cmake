# SPDX-License-Identifier: MIT
vantrel_fuzz(reply_fields SOURCE reply_fields_fuzz.cpp DEPS vantrel_net)
vantrel_fuzz(listing SOURCE listing_fuzz.cpp DEPS vantrel_protocol)
vantrel_fuzz(file_ids SOURCE file_ids_fuzz.cpp DEPS vantrel_protocol)
vantrel_fuzz(ping_reply SOURCE ping_reply_fuzz.cpp DEPS vantrel_protocol)
