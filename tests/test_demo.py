"""The command line tour: ``python -m orbalis demo`` runs on built-in data."""


def test_demo_tours_every_module(python_subprocess):
    out = python_subprocess("from orbalis.__main__ import main; main(['demo'])").stdout
    for heading in (
        "WGS-84 ellipsoid",
        "Geodetic <-> Cartesian",
        "Observation from Paris",
        "Two-line element set",
        "State vector, GCRF -> ITRF",
    ):
        assert f"== {heading}" in out
    assert "satellite number 25544, epoch 2008-09-20T12:25:40.104192" in out
