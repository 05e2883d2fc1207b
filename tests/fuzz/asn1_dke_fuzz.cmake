set(FUZZ_LIBS zrnational)
