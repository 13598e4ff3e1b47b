// SBR hf_adjust tests.
