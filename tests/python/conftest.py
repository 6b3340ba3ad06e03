from hypothesis import settings

# Property tests check results, not speed: a loaded CI machine must not turn a
# slow example into a failure.
settings.register_profile("torvex", deadline=None)
settings.load_profile("torvex")
