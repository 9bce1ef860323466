# SPDX-License-Identifier: MIT
# The group cache file and peers' refusal lines.
vantrel_fuzz(groups_file SOURCE transfers_groups_file_fuzz.cpp DEPS vantrel_transfers)
vantrel_fuzz(peer_refusal SOURCE transfers_peer_refusal_fuzz.cpp DEPS vantrel_transfers)
