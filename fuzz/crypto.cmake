# SPDX-License-Identifier: MIT
# The exported Decrypt over cipher texts of any length and padding.
vantrel_fuzz(decrypt SOURCE decrypt_fuzz.cpp DEPS vantrel_crypto)
