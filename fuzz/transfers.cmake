# SPDX-License-Identifier: MIT
# The group cache file, peers' refusal lines and the saved download list.
vantrel_fuzz(groups_file SOURCE transfers_groups_file_fuzz.cpp DEPS vantrel_transfers)
vantrel_fuzz(peer_refusal SOURCE transfers_peer_refusal_fuzz.cpp DEPS vantrel_transfers)
vantrel_fuzz(download_list SOURCE transfers_download_list_fuzz.cpp DEPS vantrel_transfers)
