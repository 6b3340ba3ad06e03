import pytest

import torvex


@pytest.fixture
def tv():
    return torvex
